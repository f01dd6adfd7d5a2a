// Qs71UsbVerifyRange end to end through the emulated library, loaded by path as a host loads
// it: the verdict per range, its agreement with Qs71UsbWriter's own blank check and verify,
// the refusals and failures with their codes, and the silence of a call that went well.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "captured_cout.h"
#include "test_images.h"
#include "test_scratch.h"
#include "writer_library.h"

namespace qs71::test {
namespace {

constexpr uint32_t kSize = 262144;
constexpr uint32_t kMain = kSize - 512;
constexpr uint32_t kStuckMain = 0x2345;
constexpr uint32_t kStuckTables = kSize - 300;  // among the tables of the system area
const std::string kNoProgrammer =
    "Failed to start OTP test!! (-20)\nFailed to stop OTP test!! (-20)\n";

struct RangeOutcome {
  int result = 0;
  int32_t otpSize = -1;
  std::string output;
};

class VerifyRangeEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib.Loaded()) << lib.Error();
    verifyRange = lib.verifyRange;
    ASSERT_NE(verifyRange, nullptr);
    lib.reset();
    systemArea = FreshSystemArea(lib);
    imagePath = (ScratchFolder(QS71_TEST_TMPDIR, "range") / "image.bin").string();
    image = ValidImage(kSize, systemArea, 5);
    image[kStuckMain] = 0x00;
    image[kStuckTables] = 0xFE;
    WriteFile(imagePath, image);
  }
  void TearDown() override { lib.reset(); }

  RangeOutcome Verify(uint32_t start, uint32_t length, const char* file) const {
    RangeOutcome outcome;
    CapturedCout captured;
    outcome.result = verifyRange(&outcome.otpSize, start, length, 5.0, file);
    outcome.output = captured.Text();
    return outcome;
  }

  // The part kept in a file, so that it outlives each call.
  void KeepPart() {
    const std::filesystem::path otp = ScratchFolder(QS71_TEST_TMPDIR, "range") / "part.otp";
    std::filesystem::remove(otp);
    lib.setOtpFile(otp.string().c_str());
  }

  void WriteImage() const {
    Job write;
    write.write = true;
    write.imageFile = imagePath.c_str();
    lib.Call(write);
  }

  const WriterLibrary& lib = Emulated();
  Qs71UsbVerifyRangeFunction verifyRange = nullptr;
  std::vector<uint8_t> systemArea;
  std::vector<uint8_t> image;
  std::string imagePath;
};

struct RangeCase {
  uint32_t start;
  uint32_t length;
  bool againstImage;
  int result;
};

TEST_F(VerifyRangeEndToEnd, NamesTheRangesThatHoldCellsThatWouldNotProgram) {
  KeepPart();
  ASSERT_EQ(lib.addFaults("stuck:0x2345,stuck:0x3FED4:0x01"), 0);
  WriteImage();
  const RangeCase cases[] = {
      {0, kSize, true, 1},         {0, 0x2300, true, 0},      {0x2300, 256, true, 1},
      {0x2200, 512, true, 1},      {0x2400, kMain - 0x2400, true, 0},
      {kMain, 256, true, 1},       {kMain + 256, 256, true, 0}, {0, kMain, true, 1},
      {0x2400, 256, false, 1},     {kMain + 256, 256, false, 1},
  };
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.start << "+" << c.length);
    const RangeOutcome outcome = Verify(c.start, c.length, c.againstImage ? imagePath.c_str()
                                                                          : nullptr);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.output, "") << "a call that went well prints nothing";
    EXPECT_EQ(outcome.otpSize, static_cast<int32_t>(kSize));
  }
}

// The whole part differs exactly when Qs71UsbWriter's blank check or verify fails, on parts
// that differ in the main area, in the tables of the system area, in its factory bytes, or
// not at all.
TEST_F(VerifyRangeEndToEnd, WholePartAgreesWithTheBlankCheckAndTheVerify) {
  const struct {
    const char* name;
    const char* faults;
    uint32_t presetCell;  // 0: none
    bool written;
  } parts[] = {
      {"fresh", "", 0, false},
      {"programmed cell", "", 0x1234, false},
      {"system area not blank", "", kSize - 200, false},
      {"written", "", 0, true},
      {"main-area cell stuck", "stuck:0x2345", 0, true},
      {"system-area cell stuck", "stuck:0x3FED4:0x01", 0, true},
  };
  for (const auto& part : parts) {
    SCOPED_TRACE(part.name);
    lib.reset();
    KeepPart();
    ASSERT_EQ(lib.addFaults(part.faults), 0);
    if (part.presetCell != 0) lib.presetCell(part.presetCell, 0x00);
    if (part.written) WriteImage();
    for (const bool blank : {true, false}) {
      Job job;
      job.blankCheck = blank;
      job.verify = !blank;
      job.imageFile = imagePath.c_str();
      const int writer = lib.Call(job).result;
      ASSERT_TRUE(writer == 0 || writer == -56 || writer == -57) << writer;
      EXPECT_EQ(Verify(0, kSize, blank ? nullptr : imagePath.c_str()).result, writer == 0 ? 0 : 1)
          << (blank ? "blank check" : "verify");
    }
  }
}

TEST_F(VerifyRangeEndToEnd, StreamsOnlyTheRangeThroughTheProgrammer) {
  EXPECT_EQ(Verify(0x1000, 256, nullptr).result, 0);
  EXPECT_EQ(lib.requestCount(0x79), 1u);
  EXPECT_EQ(lib.requestCount(0x7A), 8u);
  EXPECT_EQ(lib.requestCount(0x7B), 1u);
  EXPECT_EQ(lib.requestCount(0x76), 1u) << "the identification's system-area read only";
  EXPECT_EQ(lib.requestCount(0x70), 1u);
  EXPECT_EQ(lib.requestCount(0x71), 1u);
  EXPECT_EQ(Verify(kMain, 512, nullptr).result, 0);
  EXPECT_EQ(lib.requestCount(0x79), 0u) << "the system area is read back, not streamed";
  EXPECT_EQ(lib.requestCount(0x76), 2u);
}

TEST_F(VerifyRangeEndToEnd, RangesOffTheGridOrBeyondThePartAreRefused) {
  const struct {
    uint32_t start;
    uint32_t length;
  } ranges[] = {{0x80, 256}, {0, 0}, {0, 300}, {0, kSize + 256}, {kSize, 256},
                {kSize - 256, 512}, {0xFFFFFF00, 0x200}};
  for (const auto& range : ranges) {
    const RangeOutcome outcome = Verify(range.start, range.length, nullptr);
    char message[80];
    std::snprintf(message, sizeof message, "[ERROR] Invalid OTP verify range %u bytes at 0x%06X!\n",
                  range.length, range.start);
    EXPECT_EQ(outcome.result, QS71_E_VERIFY_SIZE);
    EXPECT_EQ(outcome.output, message);
    EXPECT_EQ(outcome.otpSize, static_cast<int32_t>(kSize));
    EXPECT_EQ(lib.requestCount(0x79), 0u);
    EXPECT_EQ(lib.requestCount(0x71), 1u) << "the OTP test is still stopped";
  }
}

TEST_F(VerifyRangeEndToEnd, AFailedStepPrintsItsMessageAndGivesItsCode) {
  const std::string missing = (ScratchFolder(QS71_TEST_TMPDIR, "range") / "missing.bin").string();
  const std::string shortImage = (ScratchFolder(QS71_TEST_TMPDIR, "range") / "short.bin").string();
  WriteFile(shortImage, std::vector<uint8_t>(kSize - 1, 0xFF));
  const struct {
    const char* faults;
    const char* file;
    int result;
    std::string output;
    int32_t otpSize;
  } failures[] = {
      {"no-device", nullptr, -20, kNoProgrammer, -1},
      {"", missing.c_str(), -40, "[ERROR] Failed to open file: " + missing + "\n", 262144},
      {"", shortImage.c_str(), -52,
       "[ERROR] File and OTP size NOT match!\nFile: 262143 bytes\nOTP: 262144 bytes.\n", 262144},
      {"wrong-status:0x7B", nullptr, -59, "[ERROR] Fail to verify OTP data! (-59)\n", 262144},
      {"wrong-echo:0x71", nullptr, 0, "Failed to stop OTP test!! (-30)\n", 262144},
  };
  for (const auto& failure : failures) {
    SCOPED_TRACE(failure.output);
    lib.reset();
    ASSERT_EQ(lib.addFaults(failure.faults), 0);
    const RangeOutcome outcome = Verify(0, 256, failure.file);
    EXPECT_EQ(outcome.result, failure.result);
    EXPECT_EQ(outcome.output, failure.output);
    EXPECT_EQ(outcome.otpSize, failure.otpSize);
  }
  lib.reset();
  EXPECT_EQ(verifyRange(nullptr, 0, 256, 5.0, nullptr), 0) << "otpSize may be NULL";
}

TEST(VerifyRangeExport, BothBuildsExportIt) {
  for (const char* path : {QS71_EMULATED_LIBRARY, QS71_PRODUCTION_LIBRARY}) {
    SharedLibrary library;
    std::string error;
    ASSERT_TRUE(library.Open(path, error)) << error;
    EXPECT_TRUE(library.Exports("Qs71UsbVerifyRange")) << path;
  }
}

}  // namespace
}  // namespace qs71::test
