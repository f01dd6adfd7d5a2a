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

// Levels on the 16-bit scale (32768 is 0 dBFS); silence is 32 or less (-60 dBFS); a sample of
// 32393 or more (within 0.1 dB of full scale) is clipped, in a flat run or not.
const LevelCase kLevelCases[] = {
    {"digital silence", Run(100, 0), -kInf, -kInf, 0, 100, 0},
    {"half scale, padded", Concat({Run(10, 32), Run(20, 16384), Run(5, -3)}), -6.0206, -8.4510, 0, 10, 5},
    {"flat tops", Concat({Run(3, 32767), {0, 32767}, Run(2, -32768), Run(4, -32600)}), 0.0, -0.4318, 10, 0, 0},
    {"tops alternating near full scale", {32767, 32500, -32768, -32393, 32392, -32392}, 0.0, -0.0618, 4, 0, 0},
    {"8-bit full scale", Concat({Run(5, 32512), {100}}), -0.0681, -0.8599, 5, 0, 0},
    // A source above full scale: squares beyond 32 bits, a peak above 0 dBFS.
    {"beyond 16 bits", {40000, -70000, 100}, 6.5930, 3.0489, 2, 0, 0},
    // In blocks of 3, the flat top fills a block and the next block, quiet, ends it.
    {"flat top between silences", Concat({Run(39, 0), Run(3, 32767), Run(7, 100), Run(30, 0)}), -0.0003, -14.2052,
     3, 39, 30},
};

void Measure(const std::vector<int32_t>& samples, size_t block, LevelMeter* meter) {
  for (size_t at = 0; at < samples.size(); at += block) {
    MeterBlock(meter, samples.data() + at, std::min(block, samples.size() - at));
  }
}

TEST(SoundMeasureTest, LevelsClipsAndSilenceInAnyBlocks) {
  for (const LevelCase& c : kLevelCases) {
    for (size_t block : {size_t{1}, size_t{2}, size_t{3}, size_t{1000}}) {
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
  MeterCodecs(&whole, tone.data(), tone.size(), true);
  const std::vector<CodecCost> costs = CodecCostsOf(whole);
  // In even blocks, as the reader gives them, every figure is the same as in one.
  CodecMeter blocks;
  for (size_t at = 0; at < tone.size(); at += 64) MeterCodecs(&blocks, tone.data() + at, std::min<size_t>(64, tone.size() - at), at + 64 >= tone.size());
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

// What the chip plays of a whole sound, the plain way: the codec's encoder over all of it, the
// image format's decoder over all the bytes.
std::vector<int32_t> ChipPlays(int32_t kind, const std::vector<int32_t>& samples, int quality) {
  CodecState state;
  StartAdpcmSearch(&state.adpcm, quality);
  std::vector<uint8_t> code;
  FindCodec(kind)->encode(&state, samples.data(), samples.size(), true, &code);
  const StoredCodecTables& tables = ImageTables();
  switch (kind) {
    case KindAdpcm: return DecodeAdpcmRange(code.data(), code.size(), tables);
    case KindPcm8: return DecodePcm8Range(code.data(), code.size());
    case KindUlaw: return DecodeUlawRange(code.data(), code.size(), tables);
    default: return DecodePcm16Range(code.data(), code.size());
  }
}

// The SNR the meter must give, summed as it sums.
double ReferenceSnr(int32_t kind, const std::vector<int32_t>& samples, int quality) {
  const std::vector<int32_t> played = ChipPlays(kind, samples, quality);
  int64_t signal = 0, noise = 0;
  for (size_t i = 0; i < samples.size(); ++i) {
    signal += int64_t{samples[i]} * samples[i];
    noise += (int64_t{samples[i]} - played[i]) * (int64_t{samples[i]} - played[i]);
  }
  if (noise == 0) return kInf;
  return signal == 0 ? -kInf : 10.0 * std::log10(static_cast<double>(signal) / static_cast<double>(noise));
}

// Meters samples in blocks of block (even), handing over the bytes of the sound's own kind as
// the import does.
std::vector<CodecCost> Metered(const std::vector<int32_t>& samples, size_t block, int quality, int32_t ownKind,
                               bool ofTheseSamples = false, bool inLine = false) {
  CodecMeter meter(quality);
  meter.inLine = inLine;
  CodecState own;
  StartAdpcmSearch(&own.adpcm, quality);
  std::vector<uint8_t> bytes;
  for (size_t at = 0; at < samples.size(); at += block) {
    const size_t n = std::min(block, samples.size() - at);
    const bool last = at + n == samples.size();
    EncodedBlock encoded;
    if (ownKind != 0) {
      FindCodec(ownKind)->encode(&own, samples.data() + at, n, last, &bytes);
      encoded = {ownKind, bytes.data(), bytes.size(), ofTheseSamples};
    }
    MeterCodecs(&meter, samples.data() + at, n, last, encoded);
  }
  return CodecCostsOf(meter);
}

std::vector<int32_t> Noise(size_t n, uint32_t seed, int32_t amplitude) {
  std::vector<int32_t> out(n);
  for (int32_t& v : out) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<int32_t>(seed >> 8) % amplitude;
  }
  return out;
}

// Every lane against its codec's encoder and the image format's decoder over the whole sound:
// at each ADPCM level, in blocks or whole, with or without the import's own bytes, for samples
// beyond 16 bits too (which the reader never gives).
TEST(SoundMeasureTest, EveryLaneIsWhatTheChipPlays) {
  struct Case {
    const char* name;
    std::vector<int32_t> samples;
    size_t block;
    int quality;
    int32_t ownKind;
    bool ofTheseSamples = false;  // the import's bytes, worked out rather than read
    bool inLine = false;          // as where no thread can be started
  };
  const Case cases[] = {
      {"noise, level 0, own ADPCM", Noise(3001, 1, 32768), 256, 0, KindAdpcm},
      {"noise, level 0, own u-law", Noise(3001, 2, 32768), 256, 0, KindUlaw},
      {"quiet noise, level 2, own ADPCM", Noise(3001, 3, 3000), 100, 2, KindAdpcm},
      {"noise, level 1, own PCM16", Noise(3001, 4, 32768), 3002, 1, KindPcm16},
      {"noise, level 3, own ADPCM, small blocks", Noise(501, 5, 20000), 2, 3, KindAdpcm},
      {"beyond 16 bits", {40000, -40000, 32767, -32768, 70000, 5, -70000}, 4, 0, 0},
      // Long sounds: values counted from the second block on, ADPCM on a thread of its own
      {"long noise, level 0, own PCM16", Noise(150001, 6, 32768), 65536, 0, KindPcm16},
      {"long noise, level 1, own PCM8", Noise(140001, 7, 20000), 65536, 1, KindPcm8},
      {"long noise, level 0, own u-law", Noise(131074, 8, 32768), 65536, 0, KindUlaw},
      {"long noise, level 0, own u-law as the import gives it", Noise(131074, 8, 32768), 65536, 0, KindUlaw, true},
      {"long noise, level 0, own ADPCM", Noise(131075, 9, 32768), 65536, 0, KindAdpcm},
      {"long noise, level 0, nothing own", Noise(200000, 10, 9000), 65536, 0, 0},
      {"long noise, level 1, own PCM16, no thread", Noise(150001, 11, 32768), 65536, 1, KindPcm16, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<CodecCost> costs = Metered(c.samples, c.block, c.quality, c.ownKind, c.ofTheseSamples, c.inLine);
    ASSERT_EQ(costs.size(), std::size(kComparedCodecs));
    for (const CodecCost& cost : costs) {
      SCOPED_TRACE(cost.kind);
      EXPECT_EQ(cost.bytes, static_cast<int64_t>(FindCodec(cost.kind)->bytes(c.samples.size())));
      EXPECT_EQ(cost.snrDb, ReferenceSnr(cost.kind, c.samples, c.quality));
    }
  }
}

// A compile that stops in the middle of a sound (a read error) drops its meter with the trial's
// thread at work and blocks queued: it must stop and let go of them.
TEST(SoundMeasureTest, AMeterDroppedMidSoundStopsItsTrial) {
  const std::vector<int32_t> noise = Noise(4 * 65536, 12, 32768);
  for (size_t blocks = 1; blocks <= 3; ++blocks) {
    CodecMeter meter(1);
    for (size_t b = 0; b < blocks; ++b) MeterCodecs(&meter, noise.data() + b * 65536, 65536, false);
    EXPECT_NE(meter.thread, nullptr);
  }
}

// The codecs of one value per sample are worked out from the sample alone: each 16-bit value
// on its own against its encoder and the chip's decoder.
TEST(SoundMeasureTest, EverySixteenBitValueIsPlayedAsTheChipPlaysIt) {
  for (int32_t v = -32768; v <= 32767; ++v) {
    const std::vector<int32_t> one{v};
    CodecMeter meter;
    MeterCodecs(&meter, one.data(), 1, true);
    const std::vector<CodecCost> costs = CodecCostsOf(meter);
    for (size_t lane = 1; lane < costs.size(); ++lane) {
      if (costs[lane].snrDb != ReferenceSnr(costs[lane].kind, one, 0)) {
        ADD_FAILURE() << "sample " << v << ", kind " << costs[lane].kind;
        return;
      }
    }
  }
}

}  // namespace
