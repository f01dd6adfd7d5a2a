// The production library's listing and its calls on a named programmer through the real Linux
// port against the hidapi stand-in: only the programmer's release is listed, with its serial in
// UTF-8, and a path names exactly one device. Listings from several threads at once meet in
// hidapi's set-up and enumeration, which the port serialises; the stand-in's own bookkeeping
// is unguarded, so ThreadSanitizer sees any call that slips past the lock.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "standin_library.h"
#include "writer_library.h"

namespace qs71::test {
namespace {

TEST(HidapiStandinListing, ListsTheProgrammerAndOpensItByPath) {
  const WriterLibrary& lib = Production();
  ASSERT_TRUE(lib.Loaded()) << lib.Error();
  const StandinLibrary& standin = LoadedStandin();
  ASSERT_TRUE(standin.Loaded()) << standin.error;
  standin.reset();

  const std::vector<Qs71ProgrammerInfo> list = lib.Programmers();
  ASSERT_EQ(list.size(), 1u);
  const std::string path = list[0].path;
  ASSERT_GE(path.size(), 8u);
  EXPECT_EQ(path.substr(path.size() - 8), "/hidraw3");
  const std::string folder = path.substr(0, path.size() - 7);
  EXPECT_STREQ(list[0].serial, "QS71-\xC3\x84\xF0\x9F\x98\x80-42");
  EXPECT_EQ(list[0].release, 0x0101);

  struct Row {
    const char* node;
    int result;
  };
  const Row rows[] = {{"hidraw3", 0}, {nullptr, 0}, {"hidraw1", -20}, {"hidraw9", -20}};
  for (const Row& row : rows) {
    const std::string named = row.node ? folder + row.node : "";
    const Outcome outcome = lib.CallOn(row.node ? named.c_str() : nullptr, Job{});
    EXPECT_EQ(outcome.result, row.result) << (row.node ? row.node : "NULL");
    EXPECT_EQ(outcome.otpSize, row.result == 0 ? 262144 : -1) << outcome.output;
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 25; ++i) {
        if (lib.listProgrammers(nullptr, 0) != 1) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(standin.Unsettled(), "");
  standin.reset();
}

}  // namespace
}  // namespace qs71::test
