#include "audio/ulaw_encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "audio/audio_test_support.h"
#include "codec_decoders.h"
#include "codec_tables.h"
#include "compile_state.h"
#include "result_codes.h"

namespace {

using audiotest::Captured;
using audiotest::TempImage;

TEST(UlawEncodeSampleTest, KnownCodes) {
  const struct {
    int32_t sample;
    uint8_t code;
  } cases[] = {{0, 0x00},      {1000, 0x31},    {-1000, 0xB1}, {-1, 0x80},    {32767, 0x7F},
               {-32768, 0xFF}, {32636, 0x7F},   {-32636, 0xFF}, {31612, 0x7F}, {31611, 0x7E}, {-31611, 0xFE},
               {123, 0x0F},    {124, 0x10},     {0x10000 + 1000, 0x31}};  // only the low 16 bits count
  for (const auto& c : cases) EXPECT_EQ(UlawEncodeSample(c.sample), c.code) << c.sample;
}

// Every 16-bit value against the expansion table the chip uses: the code keeps the sign and
// the magnitude lands within half a segment step, except at the top, where everything from
// 32636 on takes the last code.
TEST(UlawEncodeSampleTest, EveryValueExpandsBackWithinHalfAStep) {
  std::vector<int32_t> expansion;
  for (int c = 0; c < 128; ++c) expansion.push_back(UlawExpansion(c));
  for (int32_t s = -32768; s <= 32767; ++s) {
    const uint8_t code = UlawEncodeSample(s);
    const int32_t decoded = testcodec::DecodeUlaw(&code, 1, expansion)[0];
    const int32_t magnitude = std::abs(s);
    if (magnitude >= 32636) {
      ASSERT_EQ(code & 0x7F, 0x7F) << s;
    } else {
      ASSERT_LE(std::abs(decoded - s), 4 << ((code >> 4) & 7)) << s;
    }
    ASSERT_EQ((code & 0x80) != 0, s < 0) << s;
  }
}

class UlawEncoderTest : public testing::Test {
 protected:
  audiotest::FreshState state_;
  TempImage image_{0x80};
};

TEST_F(UlawEncoderTest, WritesCodesAtTheSoundsPlace) {
  const SampleBuffer samples{3, {0, 1000, -1000}};
  int r = -99;
  std::string out = Captured([&] { r = EncodeUlaw(samples, 0, 0x10, 0x20, 0x22, "Voice", "v.wav"); });
  EXPECT_EQ(r, ErrNone);
  EXPECT_EQ(out, "u-law Samples =        3 <Voice> : \"v.wav\".\n");
  std::vector<uint8_t> expected(0x80, 0xFF);
  expected[0x30] = 0x00;
  expected[0x31] = 0x31;
  expected[0x32] = 0xB1;
  EXPECT_EQ(image_.Bytes(), expected);
}

TEST_F(UlawEncoderTest, CountNotFillingTheRangeWritesAndPrintsNothing) {
  const SampleBuffer samples{3, {1, 2, 3}};
  for (int32_t end : {0x21, 0x23}) {
    int r = 0;
    EXPECT_EQ(Captured([&] { r = EncodeUlaw(samples, 0, 0x10, 0x20, end, "s", "s.wav"); }), "");
    EXPECT_EQ(r, ErrInternal);
  }
  EXPECT_EQ(image_.Bytes(), std::vector<uint8_t>(0x80, 0xFF));
}

}  // namespace
