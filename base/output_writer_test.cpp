#include "output_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct NameRow {
  const char* a;
  const char* b;
  bool foldCase;  // Windows
  bool same;
};

const NameRow kNames[] = {
    {"out.bin", "out.bin", false, true},
    {"OUT.BIN", "out.bin", false, false},  // two files on Linux
    {"OUT.BIN", "out.bin", true, true},    // one file on Windows: --map OUT.BIN s.qs out.bin
    {"Out.Map", "out.bin", true, false},
    {"out.bin", "out.bin ", true, false},
};

TEST(SameEntryName, FoldsLetterCaseWhereTheFileSystemDoes) {
  for (const NameRow& row : kNames) {
    EXPECT_EQ(SameEntryName(row.a, row.b, row.foldCase), row.same) << row.a << " / " << row.b;
  }
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A full disk, as a file size limit: a writer that checks only at the end (as libsndfile's
// stream does) is told at Commit, and the name keeps the earlier file whole, with no scratch
// file left beside it.
TEST(OutputWriter, AFailedWriteKeepsTheEarlierFile) {
  const std::filesystem::path dir = std::filesystem::path(QS71_TEST_TMPDIR) / "output_writer";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::filesystem::path name = dir / "copy.wav";
  std::ofstream(name, std::ios::binary) << "earlier";
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 6000;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string reason;
  OutputWriter out;
  const bool opened = out.Open(name.string(), AtLink::kReplace, &reason);
  const std::vector<char> block(1000, 'x');
  for (int i = 0; opened && i < 100; ++i) (void)std::fwrite(block.data(), 1, block.size(), out.Stream());
  const bool committed = opened && out.Commit(&reason);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  ASSERT_TRUE(opened) << reason;
  EXPECT_FALSE(committed);
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(ReadAll(name), "earlier");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

// A file that appears at the name while the new text is written (here: before) is never
// replaced, and the scratch file goes.
TEST(WriteNewOutputText, NeverReplacesAFile) {
  const std::filesystem::path dir = std::filesystem::path(QS71_TEST_TMPDIR) / "write_new_output";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::filesystem::path name = dir / "toy.toml";
  std::string reason;
  ASSERT_TRUE(WriteNewOutputText(name.string(), "first", &reason)) << reason;
  EXPECT_FALSE(WriteNewOutputText(name.string(), "second", &reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(ReadAll(name), "first");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

}  // namespace
