// The production build, with hidapi over hidraw, on a machine with no programmer attached.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "writer_library.h"

namespace qs71::test {
namespace {

// The kernel names each HID device BUS:VENDOR:PRODUCT.INSTANCE under /sys/bus/hid/devices;
// empty when no 04d8:fe08 device is attached (or there is no sysfs to ask).
std::string AttachedProgrammer() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/bus/hid/devices", error)) {
    const std::string name = entry.path().filename().string();
    unsigned bus = 0, vendor = 0, product = 0, instance = 0;
    if (std::sscanf(name.c_str(), "%x:%x:%x.%x", &bus, &vendor, &product, &instance) == 4 &&
        vendor == 0x04D8 && product == 0xFE08) {
      return name;
    }
  }
  return "";
}

// Every call goes to whatever programmer is plugged in: with one attached, these would start
// its OTP test instead of finding nothing.
class HidapiBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string attached = AttachedProgrammer();
    if (!attached.empty()) {
      GTEST_SKIP() << "a 04d8:fe08 programmer is attached (" << attached
                   << "); these tests expect none and would talk to it";
    }
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
  const std::filesystem::path transcript = TempDir("hidapi") / "transcript.txt";
  std::filesystem::remove(transcript);
  ScopedEnv env("QS71_EMU_TRANSCRIPT", transcript.string());
  EXPECT_EQ(lib.Call(Job{}).result, -20);
  EXPECT_FALSE(std::filesystem::exists(transcript));
}

}  // namespace
}  // namespace qs71::test
