// A dry run killed in the middle of a write: the emulated chip file must still be the whole
// part, programmed exactly as far as the write got, as a real part would be.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "test_images.h"
#include "test_scratch.h"
#include "writer_library.h"

namespace qs71::test {
namespace {

constexpr uint32_t kSize = 262144;

// The child: a host writing the image into a part kept in the file, at the real programmer's
// pace, so that the write takes seconds and the parent has time to kill it.
[[noreturn]] void WriteInChild(const WriterLibrary& lib, const std::string& otp,
                               const std::string& image) {
  setenv("QS71_EMU_PACE_US", "1000", 1);
  lib.reset();
  lib.setOtpFile(otp.c_str());
  Job write;
  write.write = true;
  write.imageFile = image.c_str();
  lib.Call(write);
  _exit(0);
}

// Waits until the write has reached the file: the first cell the image programs shows there.
// The limit only keeps a broken emulator from hanging the suite.
bool WriteHasBegun(const std::filesystem::path& otp) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < limit) {
    std::ifstream part(otp, std::ios::binary);
    if (part.get() == 0x00) return true;  // the image below starts with 0x00
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// How far the part was programmed, when it holds the programmed image up to that cell and
// the fresh part beyond; -1 when it holds anything else.
long ProgrammedPrefix(const std::vector<uint8_t>& cells, const std::vector<uint8_t>& programmed,
                      const std::vector<uint8_t>& fresh) {
  if (cells.size() != programmed.size()) return -1;
  size_t prefix = 0;
  while (prefix < cells.size() && cells[prefix] == programmed[prefix]) ++prefix;
  for (size_t cell = prefix; cell < cells.size(); ++cell) {
    if (cells[cell] != fresh[cell]) return -1;
  }
  return static_cast<long>(prefix);
}

TEST(ChipFileKilled, SigkillMidWriteLeavesThePartAsFarAsItWasProgrammed) {
  const WriterLibrary& lib = Emulated();
  ASSERT_TRUE(lib.Loaded()) << lib.Error();
  lib.reset();
  const std::vector<uint8_t> systemArea = FreshSystemArea(lib);
  std::vector<uint8_t> image = ValidImage(kSize, systemArea, 3);
  image[0] = 0x00;
  const std::filesystem::path dir = ScratchFolder(QS71_TEST_TMPDIR, "killed");
  const std::filesystem::path otp = dir / "part.otp";
  const std::filesystem::path imagePath = dir / "image.bin";
  std::filesystem::remove(otp);
  WriteFile(imagePath, image);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) WriteInChild(lib, otp.string(), imagePath.string());
  const bool begun = WriteHasBegun(otp);
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(begun) << "the write never reached the chip file";
  EXPECT_TRUE(WIFSIGNALED(status)) << "the write ended before it was killed";

  std::vector<uint8_t> fresh(kSize, 0xFF);
  std::copy(systemArea.begin(), systemArea.end(), fresh.end() - 512);
  const long prefix =
      ProgrammedPrefix(ReadFileBytes(otp), Programmed(kSize, systemArea, image), fresh);
  EXPECT_GT(prefix, 0) << "the chip file is not the part programmed up to some cell";
  EXPECT_LT(prefix, static_cast<long>(kSize - 512));
  EXPECT_FALSE(std::filesystem::exists(otp.string() + ".new"));
}

}  // namespace
}  // namespace qs71::test
