#include "audio/adpcm_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "audio/wave_input.h"

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

// The bytes of a whole sound searched at a level, or at a width when quality is -1, fed in
// blocks of block samples.
std::vector<uint8_t> Searched(const std::vector<int32_t>& samples, int quality, size_t block,
                              const AdpcmSearchWidth& width = {}) {
  AdpcmSearch search;
  if (quality < 0) {
    EXPECT_TRUE(StartAdpcmWidthSearch(&search, width)) << width.survivors;
  } else {
    StartAdpcmSearch(&search, quality);
  }
  return SearchAdpcmSound(&search, samples.data(), samples.size(), block);
}

// A short clip of synthetic speech (espeak-ng, 8 kHz), as the generator reads it.
std::vector<int32_t> Speech() {
  const std::string name = std::string(QS71_GEN_TESTDATA) + "/speech_8k.wav";
  FILE* file = nullptr;
  std::string detail;
  WaveHeader header;
  SampleReader reader;
  std::vector<int32_t> samples;
  size_t n = 0;
  if (OpenWaveFile(name, &file, &detail) != 0) return samples;
  if (CheckWaveHeader(file, name.c_str(), &header, &detail) == 0 && StartSamples(&reader, file, header) == 0) {
    while (ReadSampleBlock(&reader, 1.0, &n) == 0 && n > 0) {
      samples.insert(samples.end(), reader.samples.begin(), reader.samples.begin() + static_cast<std::ptrdiff_t>(n));
    }
  }
  std::fclose(file);
  return samples;
}

// Level 0 is the greedy encoder; every level decodes, through a decoder of its own, to a sound
// at least as close to the speech as the level below, and searching gains a real margin.
// Searches of widths of their own (quality -1) play at least as close as the level named:
// level 3's width, which gives level 3's bytes, a shallower and a deeper commit than the
// levels', and a search wider than level 3's with the finest buckets.
TEST(AdpcmSearchTest, EachLevelPlaysCloserToTheSpeech) {
  const std::vector<int32_t> speech = Speech();
  ASSERT_GT(speech.size(), 4000u);
  EXPECT_EQ(Searched(speech, 0, 4096), Encoded(speech));
  const struct {
    int quality;
    AdpcmSearchWidth width;
    int atLeast;
  } searches[] = {{0, {}, 0},  {1, {}, 0},  {2, {}, 1},  {3, {}, 2},  {-1, {128, 1, 0, 4, 32}, 3},
                  {-1, {16, 1, 1, 2, 16}, 1}, {-1, {12, 1, 0, 4, 128}, 1}, {-1, {512, 1, 0, 7, 128}, 3}};
  double snr[kAdpcmQualityMax + 1] = {};
  for (const auto& c : searches) {
    const std::vector<uint8_t> bytes = Searched(speech, c.quality, 4096, c.width);
    ASSERT_EQ(bytes.size(), AdpcmBytes(speech.size())) << c.quality;
    const double played = testcodec::SnrDb(speech, testcodec::DecodeImaAdpcm(bytes.data(), speech.size(), StepTable()));
    if (c.quality >= 0) std::printf("[ SNR      ] level %d: %6.2f dB\n", c.quality, played);
    if (c.quality < 0) {
      std::printf("[ SNR      ] width %d/%d/%d/%d/%d: %6.2f dB\n", c.width.survivors, c.width.radius, c.width.opposite,
                  c.width.fineness, c.width.depth, played);
    }
    EXPECT_GE(played, snr[c.atLeast]) << c.quality << " " << c.width.survivors << " " << c.width.depth;
    if (c.quality >= 0) snr[c.quality] = played;
  }
  EXPECT_GE(snr[kAdpcmQualityMax], snr[0] + 2.0);
  EXPECT_EQ(Searched(speech, -1, 4096, {128, 1, 0, 4, 32}), Searched(speech, 3, 4096));
}

TEST(AdpcmSearchTest, WidthsThatFit) {
  const struct {
    AdpcmSearchWidth width;
    bool fits;
  } cases[] = {
      {{128, 1, 0, 4}, true},   {{4, 0, 0, 0}, true},      {{21844, 1, 0, 7}, true},    {{8191, 3, 1, 0}, true},
      {{3, 0, 0, 0}, false},    {{21845, 1, 0, 7}, false}, {{128, 4, 0, 4}, false},     {{128, 1, 9, 4}, false},
      {{12, 1, 0, 4}, true},    {{11, 1, 0, 4}, false},    {{60, 3, 8, 7}, true},       {{59, 3, 8, 7}, false},
      {{128, 1, 0, 8}, false},  {{128, -1, 0, 4}, false},  {{128, 1, 0, -1}, false},    {{64, 1, 0, 4, 16}, true},
      {{64, 1, 0, 4, 1024}, true}, {{64, 1, 0, 4, 8}, false}, {{64, 1, 0, 4, 48}, false}, {{64, 1, 0, 4, 2048}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AdpcmSearchWidthFits(c.width), c.fits)
        << c.width.survivors << " " << c.width.radius << " " << c.width.opposite << " " << c.width.fineness << " "
        << c.width.depth;
  }
}

// Where a block ends changes nothing: blocks shorter and longer than the commit depth, and an
// odd last block, give the bytes of one block; so do full swings, where states merge and clip,
// and sounds that end before the first checkpoint, on it, and just after the first commit, at
// the levels' depth and at a deeper one.
TEST(AdpcmSearchTest, BlocksGiveTheBytesOfOneBlock) {
  const std::vector<int32_t> swingAndNoise = SwingAndNoise();
  std::vector<std::vector<int32_t>> sounds;
  for (size_t length : {1999u, 1u, 31u, 32u, 65u, 128u, 256u, 257u}) sounds.emplace_back(swingAndNoise.begin(), swingAndNoise.begin() + length);
  sounds.push_back(Speech());
  for (const std::vector<int32_t>& sound : sounds) {
    // The levels, then a shallower and a deeper search than theirs (quality -1: the width).
    const std::pair<int, AdpcmSearchWidth> searches[] = {
        {1, {}}, {2, {}}, {3, {}}, {-1, {16, 1, 1, 2, 16}}, {-1, {12, 1, 0, 4, 128}}};
    for (const auto& [quality, width] : searches) {
      const std::vector<uint8_t> whole = Searched(sound, quality, sound.size(), width);
      ASSERT_EQ(whole.size(), AdpcmBytes(sound.size()));
      for (size_t block : {2u, 6u, 34u, 64u, 1000u}) {
        EXPECT_EQ(Searched(sound, quality, block, width), whole)
            << sound.size() << " " << quality << " " << width.depth << " " << block;
      }
    }
  }
}

}  // namespace
