// The production library, unchanged, against the hidapi stand-in: a whole job, and each fault
// of real hardware ending with its code and messages, without ever waiting ten seconds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin_library.h"
#include "test_images.h"
#include "test_scratch.h"
#include "writer_library.h"

namespace qs71::test {
namespace {

constexpr uint32_t kSize = 262144;
const std::string kFullJobOutput =
    "OTP test started @ VDD=3.30V, VPP=3.30V.\n"
    "\nOTP ID: 0x6D, 0x61, 0x02, 0x00.\nOTP size: 262144 bytes.\n"
    "VDD adjusted @ VDD=5.06V, VPP=5.06V.\n\n\nOTP blank check complete.\n"
    "Import File: {image}\nVDD adjusted @ VDD=5.41V, VPP=5.41V.\nOTP write in VPP=6.50V.\n\n"
    "Write OTP complete.\n"
    "Import File: {image}\nVDD adjusted @ VDD=5.06V, VPP=5.06V.\n\n\nVerify OTP complete.\n"
    "The OTP test stopped.\n";

class HidapiStandin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib.Loaded()) << lib.Error();
    // A production library that found the real hidapi must not be called: it would reach
    // whatever programmer is plugged in.
    ASSERT_TRUE(standin.Loaded()) << standin.error;
    standin.reset();
    const std::vector<uint8_t> fresh = standin.Chip();
    systemArea.assign(fresh.end() - 512, fresh.end());
    image = ValidImage(kSize, systemArea, 21);
    imagePath = (ScratchFolder(QS71_TEST_TMPDIR, "standin") / "image.bin").string();
    WriteFile(imagePath, image);
  }
  void TearDown() override { standin.reset(); }

  // Through the call that names the file, or through Qs71UsbJob with the image's bytes.
  Outcome FullJob(bool jobCall = false) const {
    Job job;
    job.blankCheck = job.write = job.verify = true;
    job.imageFile = imagePath.c_str();
    if (!jobCall) return lib.Call(job);
    Outcome outcome;
    Qs71JobRequest request = JobRequest(job, image);
    request.output = AppendText;
    request.context = &outcome.output;
    Qs71JobResult result{};
    result.size = sizeof result;
    outcome.result = lib.job(&request, &result);
    outcome.stage = result.stage;
    outcome.progress = result.progress;
    outcome.otpSize = result.otpSize;
    return outcome;
  }

  // What every call must leave behind, whatever went wrong during it.
  void ExpectCleanEnd() const { EXPECT_EQ(standin.Unsettled(), ""); }

  std::string WithImage(std::string text) const {
    for (size_t at = text.find("{image}"); at != std::string::npos; at = text.find("{image}")) {
      text.replace(at, 7, imagePath);
    }
    return text;
  }

  const WriterLibrary& lib = Production();
  const StandinLibrary& standin = LoadedStandin();
  std::vector<uint8_t> systemArea;
  std::vector<uint8_t> image;
  std::string imagePath;
};

TEST_F(HidapiStandin, BlankCheckWriteAndVerifyThroughHidapi) {
  for (const bool jobCall : {false, true}) {
    SCOPED_TRACE(jobCall ? "Qs71UsbJob" : "Qs71UsbWriter");
    standin.reset();
    const Outcome outcome = FullJob(jobCall);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.output, WithImage(kFullJobOutput));
    EXPECT_EQ(outcome.stage, 0);
    EXPECT_EQ(outcome.progress, static_cast<int32_t>(kSize - 1));
    EXPECT_EQ(outcome.otpSize, static_cast<int32_t>(kSize));
    EXPECT_EQ(standin.Chip(), Programmed(kSize, systemArea, image));
    const Qs71StandinRecord record = standin.Record();
    EXPECT_EQ(record.requests[0x74], kSize / 32);
    EXPECT_EQ(record.requests[0x7A], 2 * (kSize - 512) / 32);
    EXPECT_EQ(record.inits, 1u);
    EXPECT_EQ(record.timeouts, 0u);
    ExpectCleanEnd();
  }
}

TEST_F(HidapiStandin, EveryCallSetsUpAndTearsDownHidapiAgain) {
  for (int call = 1; call <= 3; ++call) {
    EXPECT_EQ(lib.Call(Job{}).result, 0) << "call " << call;
    ExpectCleanEnd();
  }
  EXPECT_EQ(standin.Record().inits, 3u);
}

struct FaultRow {
  const char* faults;
  int result;
  uint32_t timeouts;                  // reads the stand-in ended with its (instant) time-out
  uint32_t interrupts;                // reads it ended with EINTR
  std::vector<std::string> messages;  // printed in this order, among others
};

const std::string kNotStarted = "Failed to start OTP test!! (-20)\n";
const std::string kNotStopped = "Failed to stop OTP test!! (-20)\n";
const std::string kWriteFailed = "[ERROR] Fail to write OTP data! (-20)\n";
const std::string kStopped = "The OTP test stopped.\n";
const std::string kWritten = "Write OTP complete.\n";
const std::string kVerified = "Verify OTP complete.\n";
const std::string kNoId = "Failed to get OTP ID 0x00, 0x00, 0x00, 0x00!! (-20)\n";
const std::string kWrongId = "Failed to get OTP ID 0x00, 0x00, 0x00, 0x00!! (-30)\n";
const std::string kWrongStop = "Failed to stop OTP test!! (-30)\n";

const FaultRow kFaultRows[] = {
    // The programmer stops answering at the write's end: ten seconds asked, then -20.
    {"silent:0x75", -20, 2, 0, {kWriteFailed, kNotStopped}},
    // The ID reply comes after the read gave up; the stop then reads it instead of its own.
    {"late-reply:0x72", -20, 1, 0, {kNoId, kWrongStop}},
    // A second copy of the start reply answers the ID request.
    {"duplicate-reply:0x70", -30, 0, 0, {kWrongId, kWrongStop}},
    // Sixteen bytes hold the whole ID, but a reply is 64 bytes or none.
    {"short-report:0x72", -20, 0, 0, {kNoId, kStopped}},
    // A signal on the host's thread while the write's end is awaited is no failure.
    {"eintr:0x75", 0, 0, 1, {kWritten, kVerified, kStopped}},
    {"eintr:*:*", 0, 0, 42, {kWritten, kVerified, kStopped}},  // every read of the job
    // The kernel gives up on a report the programmer does not take.
    {"write-stall:0x74:100", -20, 0, 0, {kWriteFailed, kStopped}},
    // Pulled in the middle of the data, and while the write's end is sent.
    {"unplug:0x74:100", -20, 0, 0, {kWriteFailed, kNotStopped}},
    {"unplug:0x75", -20, 0, 0, {kWriteFailed, kNotStopped}},
    // Pulled while the ID reply is awaited, with errno still EINTR from an earlier read.
    {"eintr:0x70,unplug-awaited:0x72", -20, 0, 1, {kNoId, kNotStopped}},
    {"init-fails", -20, 0, 0, {kNotStarted, kNotStopped}},
    {"open-fails", -20, 0, 0, {kNotStarted, kNotStopped}},
    {"second-open-fails", -20, 0, 0, {kNotStarted, kNotStopped}},
};

// Each message must be found after the one before it.
void ExpectInOrder(const std::string& output, const std::vector<std::string>& messages) {
  size_t from = 0;
  for (const std::string& message : messages) {
    const size_t at = output.find(message, from);
    ASSERT_NE(at, std::string::npos) << "missing, or out of order: " << message;
    from = at + message.size();
  }
}

TEST_F(HidapiStandin, EachFaultEndsWithItsCode) {
  for (const FaultRow& row : kFaultRows) {
    SCOPED_TRACE(row.faults);
    standin.reset();
    ASSERT_EQ(standin.addFaults(row.faults), 0);
    const Outcome outcome = FullJob();
    EXPECT_EQ(outcome.result, row.result) << outcome.output;
    EXPECT_EQ(outcome.stage, 0);
    ExpectInOrder(outcome.output, row.messages);
    EXPECT_EQ(standin.Record().timeouts, row.timeouts);
    EXPECT_EQ(standin.Record().interrupts, row.interrupts);
    ExpectCleanEnd();
  }
}

}  // namespace
}  // namespace qs71::test
