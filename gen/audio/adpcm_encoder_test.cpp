#include "audio/adpcm_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "codec_decoders.h"
#include "codec_tables.h"
#include "wav_writer.h"

namespace {

std::vector<int32_t> StepTable() { return {kImaStepTable, kImaStepTable + kImaStepCount}; }

// The bytes of a whole sound encoded as one block.
std::vector<uint8_t> Encoded(const std::vector<int32_t>& samples) {
  std::vector<uint8_t> bytes(AdpcmBytes(samples.size()));
  AdpcmState state;
  EncodeAdpcmBlock(&state, samples.data(), samples.size(), bytes.data());
  return bytes;
}

TEST(AdpcmStreamTest, PacksCodesHighNibbleFirst) {
  const struct {
    std::vector<int32_t> samples;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {{1000, 1000}, {0x77}},
      {{1000, 1000, 1000}, {0x77, 0x70}},
      {{0, 0, 0}, {0x00, 0x00}},
      {{-1000}, {0xF0}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Encoded(c.samples), c.bytes) << testing::PrintToString(c.samples);
  }
}

// Full swings to both limits, then noise: the predictor must be limited on both sides and the
// step index must reach the top of the table.
std::vector<int32_t> SwingAndNoise() {
  std::vector<int32_t> input;
  for (int i = 0; i < 400; ++i) input.push_back((i / 3) % 2 ? 32767 : -32768);
  const std::vector<int32_t> noise = testwav::MakeSamples({testwav::Shape::Noise, 0, 0, 1.0, 7}, 4000, 16000);
  input.insert(input.end(), noise.begin(), noise.end());
  return input;
}

// The encoder must predict exactly what the chip reconstructs, or its error accumulates; an
// independent decoder fed with the codes must land on the encoder's predictor every sample.
TEST(AdpcmStreamTest, EncoderTracksTheDecoderThroughFullSwings) {
  const std::vector<int32_t> input = SwingAndNoise();
  AdpcmState state;
  std::vector<int32_t> predictors;
  std::vector<uint8_t> stream((input.size() + 1) / 2);
  int32_t maxIndex = 0;
  for (size_t i = 0; i < input.size(); ++i) {
    uint8_t code = AdpcmEncodeStep(&state, input[i]);
    ASSERT_LE(code, 15);
    ASSERT_GE(state.predictor, -32768);
    ASSERT_LE(state.predictor, 32767);
    ASSERT_GE(state.index, 0);
    ASSERT_LE(state.index, 88);
    maxIndex = std::max(maxIndex, state.index);
    predictors.push_back(state.predictor);
    stream[i / 2] |= static_cast<uint8_t>(i % 2 == 0 ? code << 4 : code);
  }
  EXPECT_EQ(maxIndex, 88);  // the swing really reached the top of the step table
  EXPECT_EQ(testcodec::DecodeImaAdpcm(stream.data(), input.size(), StepTable()), predictors);
  EXPECT_EQ(Encoded(input), stream);
}

// A sound streamed in blocks carries predictor and step index from block to block: any split
// into even blocks gives the bytes of the whole, also for samples beyond 16 bits.
TEST(AdpcmStreamTest, BlocksCarryTheStateAcrossTheirBoundaries) {
  std::vector<int32_t> input = SwingAndNoise();
  input.insert(input.end(), {70000, -70000, 40000, 3});  // an odd count: the last nibble alone
  const std::vector<uint8_t> whole = Encoded(input);
  for (size_t block : {2u, 6u, 400u, 4096u}) {
    std::vector<uint8_t> bytes(whole.size());
    AdpcmState state;
    for (size_t at = 0; at < input.size(); at += block) {
      const size_t n = std::min(block, input.size() - at);
      EncodeAdpcmBlock(&state, input.data() + at, n, bytes.data() + at / 2);
    }
    EXPECT_EQ(bytes, whole) << block;
  }
}

}  // namespace
