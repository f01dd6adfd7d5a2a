#include "audio/pcm_encoders.h"

#include <gtest/gtest.h>

#include <vector>

#include "audio/audio_test_support.h"
#include "compile_state.h"
#include "result_codes.h"

namespace {

using audiotest::Captured;
using audiotest::TempImage;

SampleBuffer Buffer(const std::vector<int32_t>& samples) {
  return {static_cast<int32_t>(samples.size()), samples};
}

TEST(Pcm8SampleTest, DividesTowardZeroAndLimits) {
  const struct {
    int32_t sample;
    uint8_t byte;
  } cases[] = {{-1, 0x00},   {-255, 0x00}, {-256, 0xFF},  {-257, 0xFF},     {255, 0x00},
               {256, 0x01},  {32767, 0x7F}, {-32768, 0x80}, {40000, 0x7F}, {-40000, 0x80}};
  for (const auto& c : cases) EXPECT_EQ(Pcm8Sample(c.sample), c.byte) << c.sample;
}

TEST(Pcm16StreamTest, LowByteFirstAndLimited) {
  const std::vector<int32_t> samples = {1000, -2, 32767, -32768, 40000, -40000};
  const std::vector<uint8_t> bytes = {0xE8, 0x03, 0xFE, 0xFF, 0xFF, 0x7F,
                                      0x00, 0x80, 0xFF, 0x7F, 0x00, 0x80};
  EXPECT_EQ(EncodePcm16Stream(samples.data(), samples.size()), bytes);
}

class PcmEncoderTest : public testing::Test {
 protected:
  void SetUp() override { ResetCompileState(); }
};

using PcmEncoder = int (*)(const SampleBuffer&, int32_t, int32_t, int32_t, int32_t, const char*, const char*);

TEST_F(PcmEncoderTest, WritesBytesAndListingLineAtTheSoundsPlace) {
  const struct {
    PcmEncoder encode;
    int32_t end;
    const char* line;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {EncodePcm8, 0x22, "PCM8  Samples =        3 <Beep> : \"b.wav\".\n", {0x03, 0xFC, 0x7F}},
      {EncodePcm16, 0x25, "PCM16 Samples =        3 <Beep> : \"b.wav\".\n",
       {0xE8, 0x03, 0x00, 0xFC, 0xFF, 0x7F}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TempImage image(0x100);
    int r = -99;
    std::string out = Captured([&] { r = c.encode(Buffer({1000, -1024, 32767}), 8, 0x28, 0x20, c.end, "Beep", "b.wav"); });
    EXPECT_EQ(r, ErrNone);
    EXPECT_EQ(out, c.line);
    std::vector<uint8_t> expected(0x100, 0xFF);
    std::copy(c.bytes.begin(), c.bytes.end(), expected.begin() + 0x40);
    EXPECT_EQ(image.Bytes(), expected);
  }
}

TEST_F(PcmEncoderTest, CountNotFillingTheRangeWritesAndPrintsNothing) {
  TempImage image(0x100);
  const struct {
    PcmEncoder encode;
    int32_t end;  // of a range that starts at 0x10, for 4 samples
  } cases[] = {{EncodePcm8, 0x12}, {EncodePcm8, 0x14}, {EncodePcm16, 0x16}, {EncodePcm16, 0x18}};
  for (const auto& c : cases) {
    int r = 0;
    EXPECT_EQ(Captured([&] { r = c.encode(Buffer({1, 2, 3, 4}), 0, 0, 0x10, c.end, "s", "s.wav"); }), "");
    EXPECT_EQ(r, ErrInternal) << c.end;
  }
  EXPECT_EQ(image.Bytes(), std::vector<uint8_t>(0x100, 0xFF));
}

TEST_F(PcmEncoderTest, EmptySoundPrintsItsLineOnly) {
  TempImage image(0x100);
  int r = -99;
  EXPECT_EQ(Captured([&] { r = EncodePcm16(SampleBuffer{}, 0, 0, 5, 4, "e", "e.wav"); }),
            "PCM16 Samples =        0 <e> : \"e.wav\".\n");
  EXPECT_EQ(r, ErrNone);
  EXPECT_EQ(image.Bytes(), std::vector<uint8_t>(0x100, 0xFF));
}

}  // namespace
