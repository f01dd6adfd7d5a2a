#include "audio/adpcm_encoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "audio/audio_test_support.h"
#include "codec_decoders.h"
#include "codec_tables.h"
#include "compile_state.h"
#include "result_codes.h"
#include "wav_writer.h"

namespace {

using audiotest::Captured;
using audiotest::TempImage;

std::vector<int32_t> StepTable() { return {kImaStepTable, kImaStepTable + kImaStepCount}; }

SampleBuffer Buffer(const std::vector<int32_t>& samples) {
  return {static_cast<int32_t>(samples.size()), samples};
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
    EXPECT_EQ(EncodeAdpcmStream(c.samples.data(), c.samples.size()), c.bytes)
        << testing::PrintToString(c.samples);
  }
}

// The encoder must predict exactly what the chip reconstructs, or its error accumulates; an
// independent decoder fed with the codes must land on the encoder's predictor every sample.
TEST(AdpcmStreamTest, EncoderTracksTheDecoderThroughFullSwings) {
  std::vector<int32_t> input;
  for (int i = 0; i < 400; ++i) input.push_back((i / 3) % 2 ? 32767 : -32768);
  const std::vector<int32_t> noise = testwav::MakeSamples({testwav::Shape::Noise, 0, 0, 1.0, 7}, 4000, 16000);
  input.insert(input.end(), noise.begin(), noise.end());

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
  EXPECT_EQ(EncodeAdpcmStream(input.data(), input.size()), stream);
}

class AdpcmEncoderTest : public testing::Test {
 protected:
  audiotest::FreshState state_;
  TempImage image_{0x400};
};

TEST_F(AdpcmEncoderTest, WritesAtSoundBasePlusStartMinusOffset) {
  const SampleBuffer samples = Buffer({1000, 1000, 1000});
  int r = 0;
  std::string out = Captured([&] { r = EncodeAdpcm(samples, 0x100, 0x180, 0x20, 0x21, "Hello", "hi.wav"); });
  EXPECT_EQ(r, ErrNone);
  EXPECT_EQ(out, "ADPCM Samples =        3 <Hello> : \"hi.wav\".\n");
  std::vector<uint8_t> expected(0x400, 0xFF);
  expected[0xA0] = 0x77;
  expected[0xA1] = 0x70;
  EXPECT_EQ(image_.Bytes(), expected);
}

TEST_F(AdpcmEncoderTest, RefusesACountThatDoesNotFillTheRange) {
  // Odd and even counts share a byte count; a changed wave file shows up as one byte more or
  // less, on either side.
  const SampleBuffer samples = Buffer({1, 2, 3, 4, 5});
  for (int32_t end : {0x11, 0x13}) {
    int r = 0;
    EXPECT_EQ(Captured([&] { r = EncodeAdpcm(samples, 0, 0, 0x10, end, "s", "s.wav"); }), "");
    EXPECT_EQ(r, ErrInternal) << end;
  }
  EXPECT_EQ(image_.Bytes(), std::vector<uint8_t>(0x400, 0xFF));
}

TEST_F(AdpcmEncoderTest, EmptySoundPrintsItsLineAndWritesNothing) {
  int r = -99;
  std::string out = Captured([&] { r = EncodeAdpcm(SampleBuffer{}, 0, 0, 0x10, 0x0F, "none", "z.wav"); });
  EXPECT_EQ(r, ErrNone);
  EXPECT_EQ(out, "ADPCM Samples =        0 <none> : \"z.wav\".\n");
  EXPECT_EQ(image_.Bytes(), std::vector<uint8_t>(0x400, 0xFF));
}

TEST_F(AdpcmEncoderTest, NegativePositionIsRefusedBeforeAnythingIsPrinted) {
  int r = 0;
  EXPECT_EQ(Captured([&] { r = EncodeAdpcm(Buffer({1, 2}), 0x200, 0x100, 0, 0, "s", "s.wav"); }), "");
  EXPECT_EQ(r, ErrFilePosition);
}

TEST_F(AdpcmEncoderTest, CountBeyondTheBufferIsRefused) {
  SampleBuffer samples = Buffer({1, 2});
  samples.count = 4;
  int r = 0;
  EXPECT_EQ(Captured([&] { r = EncodeAdpcm(samples, 0, 0, 0, 1, "s", "s.wav"); }), "");
  EXPECT_EQ(r, ErrInternal);
}

}  // namespace
