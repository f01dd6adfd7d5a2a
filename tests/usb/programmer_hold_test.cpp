// One holder per programmer, across processes: the emulated programmer's part, kept in a chip
// file, is held by whichever process opened it, and a host in another process (the library
// guide's C host among them) is refused with -62 before it sends a single report. Qs71UsbHold keeps
// the hold across calls of its process, which go through, until Qs71UsbRelease.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "file_contents.h"
#include "process_runner.h"
#include "test_images.h"
#include "test_scratch.h"
#include "writer_library.h"

namespace qs71::test {
namespace {

constexpr uint32_t kSize = 262144;

class ProgrammerHold : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib.Loaded()) << lib.Error();
    lib.reset();
    systemArea = FreshSystemArea(lib);
    image = ValidImage(kSize, systemArea, 31);
    folder = CleanScratchFolder(QS71_TEST_TMPDIR, "hold");
    imagePath = (folder / "voice.bin").string();
    chip = (folder / "part.otp").string();
    WriteFile(imagePath, image);
    options.folder = folder;
    options.environment = {{"QS71_EMU_OTP_FILE", chip},
                           {"QS71_EMU_TRANSCRIPT", (folder / "transcript.txt").string()}};
  }

  // The helper holds programmer 1 and writes the image, then waits for a signal.
  bool HolderStarted(testsupport::LiveProcess& holder) {
    std::string line;
    return holder.Started() && holder.ReadLine(line) && line == "hold 0 " &&
           holder.ReadLine(line) && line == "job 0";
  }

  std::string Transcript() const {
    std::ifstream in(folder / "transcript.txt");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::vector<std::string> HolderCommand() const {
    return {QS71_HOLD_HELPER, QS71_EMULATED_LIBRARY, "hold", "-", imagePath};
  }

  const WriterLibrary& lib = Emulated();
  std::vector<uint8_t> systemArea;
  std::vector<uint8_t> image;
  std::filesystem::path folder;
  std::string imagePath;
  std::string chip;
  testsupport::ProcessOptions options;
};

// The library guide's host ran a whole job beside a job in progress and left the AND of two images;
// now it is refused, says by whom, and its request never reaches the part.
TEST_F(ProgrammerHold, TheGuidesHostIsRefusedWhileAnotherProcessHoldsTheProgrammer) {
  testsupport::LiveProcess holder(HolderCommand(), options);
  ASSERT_TRUE(HolderStarted(holder));
  const std::string requestsBefore = Transcript();
  WriteFile(imagePath, ValidImage(kSize, systemArea, 32));
  const testsupport::ProcessResult run = testsupport::RunProcess({QS71_GUIDE_HOST, imagePath}, options);
  EXPECT_EQ(run.exitCode, 1) << run.err;
  const std::string refusal = "[ERROR] Programmer busy: process " +
                              std::to_string(holder.Pid()) + " (qs71_hold_helpe) holds it! (-62)\n";
  EXPECT_EQ(run.out, refusal + "result -62: chip FF FF FF FF, 0 bytes, last step 1, failed step 1, "
                               "write 0.000 s\n");
  EXPECT_EQ(Transcript(), requestsBefore) << "the refused host reached the programmer";
  EXPECT_EQ(ReadFileBytes(chip), Programmed(kSize, systemArea, image));
}

// Rows in order, one process holding throughout: what each call gets.
TEST_F(ProgrammerHold, HoldAndReleaseDecideWhoGoesThrough) {
  testsupport::LiveProcess holder(HolderCommand(), options);
  ASSERT_TRUE(HolderStarted(holder)) << "the holder's own job on its held programmer failed";
  const std::vector<std::string> other = {QS71_HOLD_HELPER, QS71_EMULATED_LIBRARY, "job", "-",
                                          imagePath};
  const std::string busy = "job -62 requests 0\n[ERROR] Programmer busy: process " +
                           std::to_string(holder.Pid()) + " (qs71_hold_helpe) holds it! (-62)\n";
  EXPECT_EQ(testsupport::RunProcess(other, options).out, busy);
  // A second holder is told who holds it.
  testsupport::LiveProcess second({QS71_HOLD_HELPER, QS71_EMULATED_LIBRARY, "hold", "-"}, options);
  std::string line;
  ASSERT_TRUE(second.ReadLine(line));
  EXPECT_EQ(line, "hold -62 process " + std::to_string(holder.Pid()) + " (qs71_hold_helpe)");
  holder.Send(SIGUSR1);
  ASSERT_TRUE(holder.ReadLine(line));
  EXPECT_EQ(line, "release 0");
  const testsupport::ProcessResult after = testsupport::RunProcess(other, options);
  EXPECT_EQ(after.out.rfind("job 0 requests ", 0), 0u) << after.out;
  EXPECT_EQ(ReadFileBytes(chip), Programmed(kSize, systemArea, image));
}

// In one process: a held programmer takes calls from this process, holding twice is no
// error, a release of what is not held is refused.
TEST_F(ProgrammerHold, CallsOfTheHoldingProcessGoThrough) {
  lib.setOtpFile(chip.c_str());
  char why[64] = "x";
  EXPECT_EQ(lib.hold(nullptr, why, sizeof why), 0);
  EXPECT_STREQ(why, "");
  EXPECT_EQ(lib.hold("emulated:01", nullptr, 0), 0);
  EXPECT_EQ(lib.Call(Job{}).result, 0);
  EXPECT_EQ(lib.hold("emulated:02", why, sizeof why), -20);
  EXPECT_EQ(lib.release("emulated:01"), 0);
  EXPECT_EQ(lib.release("emulated:01"), -61);
  EXPECT_EQ(lib.release(nullptr), -61);
}

// A forked child holds nothing of its parent's: its call is refused in the parent's name while
// the parent holds the programmer, and once the parent lets go a third process takes it, not
// refused in the child's name.
TEST_F(ProgrammerHold, AForkedChildHoldsNothingOfItsParents) {
  testsupport::LiveProcess host({QS71_FORK_HOST}, options);
  std::string line;
  ASSERT_TRUE(host.ReadLine(line));
  EXPECT_EQ(line, "parent hold 0");
  ASSERT_TRUE(host.ReadLine(line));
  const std::string busy = " job -62 [ERROR] Programmer busy: process " +
                           std::to_string(host.Pid()) + " (qs71_fork_host) holds it! (-62)";
  EXPECT_NE(line.find(busy), std::string::npos) << line;
  const long child = std::atol(line.substr(std::string("child ").size()).c_str());
  ASSERT_TRUE(host.ReadLine(line));
  EXPECT_EQ(line, "parent release 0");
  testsupport::LiveProcess third({QS71_HOLD_HELPER, QS71_EMULATED_LIBRARY, "hold", "-"}, options);
  ASSERT_TRUE(third.ReadLine(line));
  EXPECT_EQ(line, "hold 0 ");
  if (child > 0) kill(static_cast<pid_t>(child), SIGKILL);
}

// The hold record: a call that reaches the part without holding it (the no-hold fault stands
// for a library that lost track of its hold) gets a line naming who held the part then; calls
// that hold it get none.
TEST_F(ProgrammerHold, TheRecordTellsEveryCallWithoutItsHold) {
  const std::string record = (folder / "holds.txt").string();
  ScopedEnv recorded("QS71_EMU_HOLD_RECORD", record);
  ScopedEnv kept("QS71_EMU_OTP_FILE", chip);
  const std::string self = "process " + std::to_string(getpid()) + ": programmer 1 (emulated:01): "
                           "a request reached the part while " + chip;
  EXPECT_EQ(lib.Call(Job{}).result, 0);
  EXPECT_FALSE(std::filesystem::exists(record)) << ReadFileText(record);
  {
    ScopedEnv faults("QS71_EMU_FAULTS", "no-hold");
    EXPECT_EQ(lib.Call(Job{}).result, 0);
  }
  EXPECT_EQ(ReadFileText(record), self + " (held by no one) was not held by this process\n");
  testsupport::LiveProcess holder({QS71_HOLD_HELPER, QS71_EMULATED_LIBRARY, "hold", "-"}, options);
  std::string line;
  ASSERT_TRUE(holder.ReadLine(line));
  ASSERT_EQ(line, "hold 0 ");
  std::filesystem::remove(record);
  {
    ScopedEnv faults("QS71_EMU_FAULTS", "no-hold");
    EXPECT_EQ(lib.Call(Job{}).result, 0);
  }
  EXPECT_EQ(ReadFileText(record), self + " (held by process " + std::to_string(holder.Pid()) +
                                      " (qs71_hold_helpe)) was not held by this process\n");
}

}  // namespace
}  // namespace qs71::test
