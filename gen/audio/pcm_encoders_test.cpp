#include "audio/pcm_encoders.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

#include "codec_decoders.h"
#include "codec_tables.h"

namespace {

TEST(Pcm8SampleTest, DividesTowardZeroAndLimits) {
  const struct {
    int32_t sample;
    uint8_t byte;
  } cases[] = {{-1, 0x00},   {-255, 0x00}, {-256, 0xFF},  {-257, 0xFF},     {255, 0x00},
               {256, 0x01},  {32767, 0x7F}, {-32768, 0x80}, {40000, 0x7F}, {-40000, 0x80}};
  for (const auto& c : cases) EXPECT_EQ(Pcm8Sample(c.sample), c.byte) << c.sample;
}

TEST(Pcm16BlockTest, LowByteFirstAndLimited) {
  const std::vector<int32_t> samples = {1000, -2, 32767, -32768, 40000, -40000};
  const std::vector<uint8_t> bytes = {0xE8, 0x03, 0xFE, 0xFF, 0xFF, 0x7F,
                                      0x00, 0x80, 0xFF, 0x7F, 0x00, 0x80};
  std::vector<uint8_t> out(bytes.size());
  EncodePcm16Block(samples.data(), samples.size(), out.data());
  EXPECT_EQ(out, bytes);
}

}  // namespace

namespace {

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

}  // namespace
