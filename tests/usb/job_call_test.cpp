// Qs71UsbJob and Qs71UsbCompareRange end to end through the emulated library: the result for
// a passing job and for a failure at each step, the image taken from memory, the sizes the
// caller gives, the cancel cell, and the range compare.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "process_runner.h"
#include "test_images.h"
#include "test_scratch.h"
#include "writer_library.h"

namespace qs71::test {
namespace {

constexpr uint32_t kSize = 262144;
constexpr uint32_t kStuck = 0x2345;
constexpr uint8_t kUntouched = 0x5A;
using ChipId = std::array<uint8_t, 4>;
const ChipId kGood = {0x6D, 0x61, 0x02, 0x00};
const ChipId kNoAnswer = {0xFF, 0xFF, 0xFF, 0xFF};

constexpr uint32_t Steps(std::initializer_list<int> steps) {
  uint32_t bits = 0;
  for (int step : steps) bits |= 1u << step;
  return bits;
}

// The host's side of a call: its text, and a cancel cell it sets once the text holds
// cancelAt; onText sees the text as it grows.
struct Host {
  std::string text;
  const char* cancelAt = nullptr;
  int32_t cancel = 0;
  std::function<void(const std::string&)> onText;
};

void QS71_CDECL HostOutput(void* context, const char* piece) {
  Host& host = *static_cast<Host*>(context);
  host.text += piece;
  if (host.cancelAt != nullptr && host.text.find(host.cancelAt) != std::string::npos) {
    host.cancel = 1;
  }
  if (host.onText) host.onText(host.text);
}

// Every byte of a result the library leaves alone stays kUntouched.
Qs71JobResult FreshResult() {
  Qs71JobResult result;
  std::memset(&result, kUntouched, sizeof result);
  result.size = sizeof result;
  return result;
}

class JobCall : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib.Loaded()) << lib.Error();
    ASSERT_TRUE(lib.Complete() && lib.Emulated());
    lib.reset();
    systemArea = FreshSystemArea(lib);
    image = ValidImage(kSize, systemArea, 11);
    image[kStuck] = 0x00;
    folder = CleanScratchFolder(QS71_TEST_TMPDIR, "job");
  }
  void TearDown() override { lib.reset(); }

  Qs71JobRequest Request(bool blankCheck, bool write, bool verify) {
    Job job;
    job.blankCheck = blankCheck;
    job.write = write;
    job.verify = verify;
    job.imageFile = "voice.bin";
    Qs71JobRequest request = JobRequest(job, image);
    request.output = HostOutput;
    request.context = &host;
    request.cancel = &host.cancel;
    return request;
  }

  Qs71RangeRequest Range(uint32_t start, uint32_t length, bool withImage) {
    Qs71RangeRequest request{};
    request.size = sizeof request;
    request.start = start;
    request.length = length;
    request.vdd = 5.0;
    request.image = withImage ? image.data() : nullptr;
    request.imageLength = static_cast<uint32_t>(image.size());
    request.output = HostOutput;
    request.context = &host;
    return request;
  }

  const WriterLibrary& lib = Emulated();
  std::vector<uint8_t> systemArea;
  std::vector<uint8_t> image;
  std::filesystem::path folder;
  Host host;
};

TEST_F(JobCall, APassingJobFillsEveryFieldAndPrintsWhatTheFileCallPrints) {
  const std::string path = (folder / "voice.bin").string();
  WriteFile(path, image);
  Qs71JobRequest request = Request(true, true, true);
  request.imageName = path.c_str();
  request.clearMarker = 1;
  Qs71JobResult result = FreshResult();
  EXPECT_EQ(lib.job(&request, &result), 0);
  EXPECT_EQ(result.result, 0);
  EXPECT_EQ(ChipId(std::to_array(result.chipId)), kGood);
  EXPECT_EQ(result.otpSize, 262144);
  EXPECT_EQ(result.stage, QS71_STAGE_IDLE);
  EXPECT_EQ(result.progress, 262143);
  EXPECT_EQ(result.lastStep, QS71_STEP_STOP);
  EXPECT_EQ(result.failedStep, QS71_STEP_NONE);
  const uint32_t done = Steps({QS71_STEP_OPEN, QS71_STEP_IDENTIFY, QS71_STEP_BLANK_CHECK,
                               QS71_STEP_WRITE, QS71_STEP_VERIFY, QS71_STEP_STOP});
  EXPECT_EQ(result.stepsDone, done);
  for (int step = 0; step < QS71_STEP_COUNT; ++step) {
    EXPECT_EQ(result.seconds[step] > 0.0, (done >> step & 1) != 0) << step;
  }
  EXPECT_EQ(result.matched, 0);
  std::vector<uint8_t> cleared = image;
  cleared[kSize - 31] = 0x00;
  EXPECT_EQ(lib.Chip(), Programmed(kSize, systemArea, cleared));
  EXPECT_EQ(image[kSize - 31], 0x5A) << "the caller's bytes stay as they were";

  Job job;
  job.blankCheck = job.write = job.verify = job.clearMarker = true;
  job.imageFile = path.c_str();
  EXPECT_EQ(lib.CallOn(nullptr, job).output, host.text);
}

// The bytes the host judged are the bytes programmed and verified, whatever becomes of the
// file they came from.
TEST_F(JobCall, AFileSwappedDuringTheJobChangesNothing) {
  const std::string path = (folder / "voice.bin").string();
  WriteFile(path, image);
  host.onText = [&](const std::string& text) {
    if (text.ends_with("OTP write in VPP=6.50V.\n")) {
      WriteFile(path, ValidImage(kSize, systemArea, 99));
    }
  };
  Qs71JobRequest request = Request(false, true, true);
  request.imageName = path.c_str();
  Qs71JobResult result = FreshResult();
  EXPECT_EQ(lib.job(&request, &result), 0) << host.text;
  EXPECT_EQ(lib.Chip(), Programmed(kSize, systemArea, image));
  EXPECT_NE(ReadFileBytes(path), image);
}

// One failure per row: its setup, the steps selected, and the result the host gets back.
struct Failure {
  const char* name;
  const char* faults;
  ChipId id;
  uint32_t preset;  // a main-area cell programmed before the job, 0 for none
  int lengthChange;  // added to the image's length
  bool blankCheck, write, verify;
  const char* cancelAt;
  int result;
  int failedStep;
  uint32_t done;
  ChipId reported;
  int otpSize;
  const char* textEnd;
};

const Failure kFailures[] = {
    {"no programmer", "no-device", kGood, 0, 0, true, true, true, nullptr, -20, QS71_STEP_OPEN, Steps({}),
     kNoAnswer, 0, "Failed to start OTP test!! (-20)\nFailed to stop OTP test!! (-20)\n"},
    {"bad ID", "", {0x6D, 0x62, 0x02, 0x07}, 0, 0, true, true, true, nullptr, -50,
     QS71_STEP_IDENTIFY, Steps({QS71_STEP_OPEN, QS71_STEP_STOP}), {0x6D, 0x62, 0x02, 0x07}, 0,
     "[ERROR] Invalid OTP ID! (0x6D,0x62,0x02,0x07)\nThe OTP test stopped.\n"},
    {"ID reply lost", "no-reply:0x72", kGood, 0, 0, true, false, false, nullptr, -20,
     QS71_STEP_IDENTIFY, Steps({QS71_STEP_OPEN, QS71_STEP_STOP}), kNoAnswer, 0,
     "Failed to get OTP ID 0x00, 0x00, 0x00, 0x00!! (-20)\nThe OTP test stopped.\n"},
    {"not blank", "", kGood, 0x1234, 0, true, true, true, nullptr, -57, QS71_STEP_BLANK_CHECK,
     Steps({QS71_STEP_OPEN, QS71_STEP_IDENTIFY, QS71_STEP_STOP}), kGood, 262144,
     "[ERROR] OTP NOT blank!\nThe OTP test stopped.\n"},
    {"image one byte short", "", kGood, 0, -1, false, true, true, nullptr, -52, QS71_STEP_WRITE,
     Steps({QS71_STEP_OPEN, QS71_STEP_IDENTIFY, QS71_STEP_STOP}), kGood, 262144,
     "Import File: voice.bin\n[ERROR] File and OTP size NOT match!\nFile: 262143 bytes\n"
     "OTP: 262144 bytes.\nThe OTP test stopped.\n"},
    {"verify mismatch", "stuck:0x2345", kGood, 0, 0, false, true, true, nullptr, -56,
     QS71_STEP_VERIFY, Steps({QS71_STEP_OPEN, QS71_STEP_IDENTIFY, QS71_STEP_WRITE, QS71_STEP_STOP}),
     kGood, 262144, "[ERROR] Data NOT match!\nThe OTP test stopped.\n"},
    {"cancelled within the write", "", kGood, 0, 0, true, true, true, "OTP write in VPP", -60,
     QS71_STEP_WRITE, Steps({QS71_STEP_OPEN, QS71_STEP_IDENTIFY, QS71_STEP_BLANK_CHECK,
     QS71_STEP_STOP}), kGood, 262144,
     "OTP write in VPP=6.50V.\n[ERROR] Job cancelled!\nThe OTP test stopped.\n"},
    {"cancelled between write and verify", "", kGood, 0, 0, false, true, true,
     "Write OTP complete.", -60, QS71_STEP_VERIFY,
     Steps({QS71_STEP_OPEN, QS71_STEP_IDENTIFY, QS71_STEP_WRITE, QS71_STEP_STOP}), kGood, 262144,
     "Write OTP complete.\n[ERROR] Job cancelled!\nThe OTP test stopped.\n"},
    {"stop fails after a passing job", "wrong-echo:0x71", kGood, 0, 0, true, false, false,
     nullptr, 0, QS71_STEP_STOP, Steps({QS71_STEP_OPEN, QS71_STEP_IDENTIFY, QS71_STEP_BLANK_CHECK}),
     kGood, 262144, "OTP blank check complete.\nFailed to stop OTP test!! (-30)\n"},
};

TEST_F(JobCall, EveryFailureIsInTheResult) {
  for (const Failure& row : kFailures) {
    SCOPED_TRACE(row.name);
    lib.reset();
    ASSERT_EQ(lib.addFaults(row.faults), 0);
    lib.setChipId(row.id[0], row.id[1], row.id[2], row.id[3]);
    if (row.preset != 0) lib.presetCell(row.preset, 0x7F);
    host = Host{};
    host.cancelAt = row.cancelAt;
    Qs71JobRequest request = Request(row.blankCheck, row.write, row.verify);
    request.imageLength += row.lengthChange;
    Qs71JobResult result = FreshResult();
    EXPECT_EQ(lib.job(&request, &result), row.result);
    EXPECT_EQ(result.result, row.result);
    EXPECT_EQ(result.failedStep, row.failedStep);
    EXPECT_EQ(result.lastStep, QS71_STEP_STOP);
    EXPECT_EQ(result.stepsDone, row.done);
    EXPECT_EQ(ChipId(std::to_array(result.chipId)), row.reported);
    EXPECT_EQ(result.otpSize, row.otpSize);
    EXPECT_EQ(result.stage, QS71_STAGE_IDLE);
    EXPECT_TRUE(host.text.ends_with(row.textEnd)) << host.text;
    if (row.cancelAt != nullptr) {
      // A write cancelled sends no data report; one cancelled after is whole.
      EXPECT_EQ(lib.requestCount(0x74), row.failedStep == QS71_STEP_WRITE ? 0u : kSize / 32);
    }
  }
}

// What the library reads and writes is what the sizes cover; a call it refuses touches
// neither the programmer nor the result beyond its code.
TEST_F(JobCall, SizesAreHonouredAndTooSmallOnesRefused) {
  constexpr uint32_t kFirstRequest = offsetof(Qs71JobRequest, imageName);
  constexpr uint32_t kFirstResult = offsetof(Qs71JobResult, matched) + 1;
  const struct Row {
    const char* name;
    uint32_t requestSize;
    uint32_t resultSize;
    bool image;
    int result;
    bool resultCodeWritten;
  } rows[] = {
      {"request below its first version", kFirstRequest - 1, sizeof(Qs71JobResult), true, -61,
       true},
      {"result below its first version", sizeof(Qs71JobRequest), kFirstResult - 1, true, -61,
       true},
      {"result without room for its code", sizeof(Qs71JobRequest), 7, true, -61, false},
      {"no image for the write", sizeof(Qs71JobRequest), sizeof(Qs71JobResult), false, -61,
       true},
      {"first versions, no image name read", kFirstRequest, kFirstResult, true, 0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    lib.reset();
    host = Host{};
    Qs71JobRequest request = Request(false, true, false);
    request.size = row.requestSize;
    if (!row.image) request.image = nullptr;
    Qs71JobResult result = FreshResult();
    result.size = row.resultSize;
    EXPECT_EQ(lib.job(&request, &result), row.result);
    EXPECT_EQ(result.result, row.resultCodeWritten ? row.result : 0x5A5A5A5A);
    if (row.result != 0) {
      EXPECT_EQ(lib.requestCount(-1), 0u);
      EXPECT_EQ(result.otpSize, 0x5A5A5A5A);
      continue;
    }
    EXPECT_EQ(host.text.find("Import File"), std::string::npos);
    EXPECT_EQ(result.otpSize, 262144);
  }
  Qs71JobResult result = FreshResult();
  EXPECT_EQ(lib.job(nullptr, &result), -61);
  EXPECT_EQ(result.result, -61);
  Qs71JobRequest request = Request(true, false, false);
  EXPECT_EQ(lib.job(&request, nullptr), -61);
  EXPECT_EQ(lib.compareRange(nullptr, &result), -61);
  // A later host's larger result: the fields after this version's are left alone.
  struct {
    Qs71JobResult result;
    uint8_t later[16];
  } larger;
  std::memset(&larger, kUntouched, sizeof larger);
  larger.result.size = sizeof larger;
  EXPECT_EQ(lib.job(&request, &larger.result), 0);
  EXPECT_EQ(std::vector<uint8_t>(larger.later, larger.later + 16),
            std::vector<uint8_t>(16, kUntouched));
}

TEST_F(JobCall, RangeCompareTellsMatchedOrDiffers) {
  const struct Row {
    const char* name;
    uint32_t start, length;
    bool withImage;
    int32_t imageLengthChange;
    int result;
    qs71_bool matched;
    int failedStep;
    const char* text;
  } rows[] = {
      {"blank part, blank expected", 0, kSize, false, 0, QS71_RANGE_MATCHES, 1, QS71_STEP_NONE,
       ""},
      {"blank part, image expected", 0x2300, 256, true, 0, QS71_RANGE_DIFFERS, 0,
       QS71_STEP_NONE, ""},
      {"range off the grid", 128, 256, true, 0, -54, 0, QS71_STEP_COMPARE,
       "[ERROR] Invalid OTP verify range 256 bytes at 0x000080!\n"},
      {"image one byte long", 0, 256, true, 1, -52, 0, QS71_STEP_COMPARE,
       "[ERROR] File and OTP size NOT match!\nFile: 262145 bytes\nOTP: 262144 bytes.\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    lib.reset();
    host = Host{};
    Qs71RangeRequest request = Range(row.start, row.length, row.withImage);
    request.imageLength += row.imageLengthChange;
    Qs71JobResult result = FreshResult();
    EXPECT_EQ(lib.compareRange(&request, &result), row.result);
    EXPECT_EQ(result.result, row.result);
    EXPECT_EQ(result.matched, row.matched);
    EXPECT_EQ(result.failedStep, row.failedStep);
    EXPECT_EQ(result.otpSize, 262144);
    EXPECT_EQ(ChipId(std::to_array(result.chipId)), kGood);
    EXPECT_EQ(result.lastStep, QS71_STEP_STOP);
    EXPECT_EQ((result.stepsDone >> QS71_STEP_COMPARE & 1) != 0, row.failedStep == 0);
    EXPECT_EQ(host.text, row.text);
  }
}

// The host of the library's guide (docs/library.md), built from its text: it reads the image, runs the job with the bytes
// and prints what the result says.
TEST_F(JobCall, TheGuidesHostRunsAJob) {
  const std::string path = (folder / "voice.bin").string();
  WriteFile(path, image);
  const struct Row {
    const char* faults;
    int exitCode;
    std::string printed;
  } rows[] = {
      {"", 0, "result 0: chip 6D 61 02 00, 262144 bytes, last step 7, failed step 0, write "},
      {"no-device", 1, "result -20: chip FF FF FF FF, 0 bytes, last step 7, failed step 1, "
                       "write 0.000 s\n"},
  };
  for (const Row& row : rows) {
    testsupport::ProcessOptions options;
    options.folder = folder;
    options.environment = {{"QS71_EMU_FAULTS", row.faults}};
    const testsupport::ProcessResult run = testsupport::RunProcess({QS71_GUIDE_HOST, path}, options);
    EXPECT_EQ(run.exitCode, row.exitCode) << row.faults << run.err;
    EXPECT_NE(run.out.find("\n" + row.printed), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Write OTP complete.\n") != std::string::npos, row.exitCode == 0);
  }
}

}  // namespace
}  // namespace qs71::test
