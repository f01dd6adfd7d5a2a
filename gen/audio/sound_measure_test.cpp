#include "audio/sound_measure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sound_kinds.h"

namespace {

std::vector<int32_t> Concat(std::initializer_list<std::vector<int32_t>> parts) {
  std::vector<int32_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<int32_t> Run(size_t n, int32_t v) { return std::vector<int32_t>(n, v); }

struct LevelCase {
  const char* name;
  std::vector<int32_t> samples;
  double peak, rms;
  int64_t clipped, leading, trailing;
};

const double kInf = std::numeric_limits<double>::infinity();

// Levels on the 16-bit scale (32768 is 0 dBFS); silence is 32 or less (-60 dBFS); a clip is a
// flat run of 3 or more within an 8-bit step of full scale, of one value.
const LevelCase kLevelCases[] = {
    {"digital silence", Run(100, 0), -kInf, -kInf, 0, 100, 0},
    {"half scale, padded", Concat({Run(10, 32), Run(20, 16384), Run(5, -3)}), -6.0206, -8.4510, 0, 10, 5},
    {"flat tops", Concat({Run(3, 32767), {0, 32767}, Run(2, -32768), Run(4, -32600)}), 0.0, -0.4318, 7, 0, 0},
    {"8-bit full scale", Concat({Run(5, 32512), {100}}), -0.0681, -0.8599, 5, 0, 0},
};

void Measure(const std::vector<int32_t>& samples, size_t block, LevelMeter* meter) {
  for (size_t at = 0; at < samples.size(); at += block) {
    MeterBlock(meter, samples.data() + at, std::min(block, samples.size() - at));
  }
  FinishMeter(meter);
}

TEST(SoundMeasureTest, LevelsClipsAndSilenceInAnyBlocks) {
  for (const LevelCase& c : kLevelCases) {
    for (size_t block : {size_t{1}, size_t{2}, size_t{1000}}) {
      SCOPED_TRACE(std::string(c.name) + ", block " + std::to_string(block));
      LevelMeter meter;
      Measure(c.samples, block, &meter);
      const SoundLevels levels = LevelsOf(meter);
      if (std::isinf(c.peak)) EXPECT_EQ(levels.peakDbfs, c.peak);
      else EXPECT_NEAR(levels.peakDbfs, c.peak, 1e-3);
      if (std::isinf(c.rms)) EXPECT_EQ(levels.rmsDbfs, c.rms);
      else EXPECT_NEAR(levels.rmsDbfs, c.rms, 1e-3);
      EXPECT_EQ(levels.clipped, c.clipped);
      EXPECT_EQ(levels.leadingSilence, c.leading);
      EXPECT_EQ(levels.trailingSilence, c.trailing);
    }
  }
}

// Each codec's bytes and what the chip plays back: PCM16 exactly, the others each with the
// noise of its quantiser; an odd count takes ADPCM's padding nibble, which is not compared.
TEST(SoundMeasureTest, CodecCostsAsTheChipPlaysThemBack) {
  std::vector<int32_t> tone(1001);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int32_t>(20000 * std::sin(0.39 * i));
  CodecMeter whole;
  MeterCodecs(&whole, tone.data(), tone.size());
  const std::vector<CodecCost> costs = CodecCostsOf(whole);
  // In even blocks, as the reader gives them, every figure is the same as in one.
  CodecMeter blocks;
  for (size_t at = 0; at < tone.size(); at += 64) MeterCodecs(&blocks, tone.data() + at, std::min<size_t>(64, tone.size() - at));
  const std::vector<CodecCost> blockCosts = CodecCostsOf(blocks);
  struct Want {
    int32_t kind;
    int64_t bytes;
    double minSnr, maxSnr;
  };
  const Want wants[] = {
      {KindAdpcm, 501, 15, 40}, {KindPcm8, 1001, 35, 50}, {KindUlaw, 1001, 30, 45}, {KindPcm16, 2002, kInf, kInf}};
  ASSERT_EQ(costs.size(), std::size(wants));
  for (size_t i = 0; i < costs.size(); ++i) {
    SCOPED_TRACE(wants[i].kind);
    EXPECT_EQ(costs[i].kind, wants[i].kind);
    EXPECT_EQ(costs[i].bytes, wants[i].bytes);
    EXPECT_GE(costs[i].snrDb, wants[i].minSnr);
    EXPECT_LE(costs[i].snrDb, wants[i].maxSnr);
    EXPECT_EQ(blockCosts[i].bytes, costs[i].bytes);
    EXPECT_EQ(blockCosts[i].snrDb, costs[i].snrDb);
  }
}

}  // namespace
