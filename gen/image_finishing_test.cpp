#include "image_finishing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compile_state.h"
#include "image/image_file.h"
#include "script/statements.h"

namespace {

class FinishingTest : public testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override { Close(); }
  // A new compile state and an empty image, for each row of a table.
  void Fresh() {
    Close();
    s = CompileState();
    s.Image = std::tmpfile();
  }
  void Close() {
    if (s.Image != nullptr) std::fclose(s.Image);
    s.Image = nullptr;
  }
  std::vector<uint8_t> Bytes() {
    std::fflush(s.Image);
    std::rewind(s.Image);
    std::vector<uint8_t> out;
    for (int c; (c = std::fgetc(s.Image)) != EOF;) out.push_back(static_cast<uint8_t>(c));
    return out;
  }
  void WriteBytes(int32_t n) { ASSERT_EQ(ImageFill(ImageOf(s), 0x00, n), 0); }

  CompileState s;
};

TEST_F(FinishingTest, ClockDividerWords) {
  struct WordCase {
    int32_t mainClk, rampRate, decDone, incDone;
    std::vector<uint8_t> at8, at12;
  };
  const std::vector<uint8_t> untouched = {0, 0, 0, 0};
  const WordCase cases[] = {
      {512000, 64000, 0, 0, {0x07, 0xFF, 0xFF, 0xFF}, {0x07, 0xFF, 0xFF, 0xFF}},
      {512000, 48000, 0, 0, {0x0A, 0xFF, 0xFF, 0xFF}, {0x0A, 0xFF, 0xFF, 0xFF}},
      {31, 64000, 0, 0, {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF}},
      {512000, 64000, 1, 0, untouched, {0x07, 0xFF, 0xFF, 0xFF}},
      {512000, 64000, 0, 1, {0x07, 0xFF, 0xFF, 0xFF}, untouched},
  };
  for (const WordCase& c : cases) {
    Fresh();
    WriteBytes(16);
    s.MainClk = c.mainClk;
    s.Ramp_Rate = c.rampRate;
    s.RampDecDone = c.decDone;
    s.RampIncDone = c.incDone;
    FinishingError error;
    EXPECT_EQ(WriteClockDividerWords(s, &error), 0);
    EXPECT_EQ(error.text, "");
    std::vector<uint8_t> bytes = Bytes();
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 8, bytes.begin() + 12), c.at8);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 12, bytes.begin() + 16), c.at12);
  }
}

TEST_F(FinishingTest, ZeroRampRateIsAnErrorNotADivision) {
  s.Ramp_Rate = 0;
  FinishingError error;
  testing::internal::CaptureStdout();
  EXPECT_EQ(WriteClockDividerWords(s, &error), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(error.text, "Invalid RAMP_RATE, it must not be 0");
  EXPECT_TRUE(error.detail);
}

TEST_F(FinishingTest, FileSizeCheckAndPadding) {
  struct SizeCase {
    int32_t written, fileSize;
    int result;
    size_t length;
    const char* error;
  };
  const SizeCase cases[] = {
      {0x100, 0x100, 0, 0x100, ""},
      {0x101, 0x100, 1, 0x101, "Exceed user specified file size 100"},
      {0x80, 0x100, 0, 0x100, ""},
      {0, 0x20000, 0, 0x20000, ""},
  };
  for (const SizeCase& c : cases) {
    Fresh();
    WriteBytes(c.written);
    s.FileSize = c.fileSize;
    FinishingError error;
    testing::internal::CaptureStdout();
    EXPECT_EQ(CheckFileSizeAndPad(s, 0, &error), c.result);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(error.text, c.error);
    EXPECT_EQ(error.fillsPastEnd, c.result != 0);
    std::vector<uint8_t> bytes = Bytes();
    ASSERT_EQ(bytes.size(), c.length);
    for (size_t i = static_cast<size_t>(c.written); i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0xFF);
  }
}

TEST_F(FinishingTest, SizeLimitAlwaysShowsMaxSize) {
  WriteBytes(0x200);
  s.MaxSize = 0x1000;
  s.AddressLimit = 0x100;
  FinishingError error;
  EXPECT_EQ(CheckSizeLimits(s, 0, &error), 1);
  EXPECT_EQ(error.text, "Exceed MaxSize 1000");
  EXPECT_FALSE(error.detail);
  s.AddressLimit = 0x10000000;
  FinishingError none;
  EXPECT_EQ(CheckSizeLimits(s, 0, &none), 0);
  EXPECT_EQ(none.text, "");
}

TEST_F(FinishingTest, ImageSizeOfNoPartIsWarnedAbout) {
  struct PartCase {
    int32_t fileSize;
    int passResult;
    bool warned;
  };
  const PartCase cases[] = {
      {0x40000, 0, false}, {0x80000, 0, false}, {0x100000, 0, false}, {0x200000, 0, false},
      {0x3FFFF, 0, true},  {0x1000, 0, true},   {0x1000, 1, false},  // no image, no warning
  };
  s.Statements = StatementMemory();
  for (const PartCase& c : cases) {
    Fresh();
    s.FileSize = c.fileSize;
    FinishingError error;
    testing::internal::CaptureStderr();
    EXPECT_EQ(CheckFileSizeAndPad(s, c.passResult, &error), c.passResult);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("qs71gen: warning: the image is ") == 0, c.warned) << c.fileSize << ": " << err;
  }
}

}  // namespace
