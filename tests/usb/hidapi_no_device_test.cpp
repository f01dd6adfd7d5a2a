// The production build, with hidapi over hidraw, on a machine with no programmer attached.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "attached_programmer.h"
#include "test_scratch.h"
#include "writer_library.h"

namespace qs71::test {
namespace {

// Both cases call the production library, which talks to any programmer it finds.
class HidapiBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = AttachedProgrammerWarning(); !why.empty()) GTEST_SKIP() << why;
  }
};

TEST_F(HidapiBuild, NoProgrammerGivesTransportErrorAndBothMessages) {
  const WriterLibrary& lib = Production();
  ASSERT_TRUE(lib.Loaded()) << lib.Error();
  Job job;
  job.blankCheck = job.write = job.verify = true;
  job.imageFile = "/nonexistent/image.bin";
  const Outcome outcome = lib.Call(job);
  EXPECT_EQ(outcome.result, -20);
  EXPECT_EQ(outcome.output, "Failed to start OTP test!! (-20)\nFailed to stop OTP test!! (-20)\n");
  EXPECT_EQ(outcome.stage, 0);
  EXPECT_EQ(outcome.progress, 0);
  EXPECT_EQ(outcome.otpSize, -1) << "not written when the OTP test did not start";
}

TEST_F(HidapiBuild, HasNoEmulatorAndReadsNoEmulatorSettings) {
  const WriterLibrary& lib = Production();
  ASSERT_TRUE(lib.Loaded()) << lib.Error();
  EXPECT_EQ(lib.reset, nullptr);
  EXPECT_EQ(lib.requestCount, nullptr);
  const std::filesystem::path transcript =
      ScratchFolder(QS71_TEST_TMPDIR, "hidapi") / "transcript.txt";
  std::filesystem::remove(transcript);
  ScopedEnv env("QS71_EMU_TRANSCRIPT", transcript.string());
  EXPECT_EQ(lib.Call(Job{}).result, -20);
  EXPECT_FALSE(std::filesystem::exists(transcript));
}

}  // namespace
}  // namespace qs71::test
