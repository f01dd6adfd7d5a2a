#include "audio/pcm_encoders.h"

#include <gtest/gtest.h>

#include <vector>

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
