#include "audio/sound_measure.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "audio/sound_codecs.h"
#include "codec_tables.h"
#include "sound_decoders.h"
#include "sound_kinds.h"

namespace {

// A flat top: at least this many equal samples within one 8-bit step of full scale. One such
// sample is a loud peak; a run of them is a waveform the recorder or the scale cut off.
constexpr int64_t kClipRun = 3;
constexpr int32_t kClipLevel = 32512;

// -60 dBFS on the 16-bit scale.
const int32_t kSilenceLimit = static_cast<int32_t>(32768.0 * std::pow(10.0, kSilenceDbfs / 20.0));

void EndRun(LevelMeter* m) {
  if (m->runLength >= kClipRun) m->clipped += m->runLength;
  m->runValue = 0;
  m->runLength = 0;
}

void MeterClip(LevelMeter* m, int32_t v) {
  const bool full = v >= kClipLevel || v <= -kClipLevel;
  if (full && v == m->runValue) {
    ++m->runLength;
    return;
  }
  EndRun(m);
  if (full) m->runValue = v, m->runLength = 1;
}

void MeterSilence(LevelMeter* m, int32_t magnitude) {
  if (magnitude > kSilenceLimit) {
    m->heardLoud = true;
    m->sinceLoud = 0;
  } else if (m->heardLoud) {
    ++m->sinceLoud;
  } else {
    ++m->leading;
  }
}

// The chip's tables as the generator stores them in every image's system area.
StoredCodecTables ImageCodecTables() {
  StoredCodecTables tables;
  for (int i = 0; i < kImaStepCount; ++i) tables.steps[i] = static_cast<uint16_t>(kImaStepTable[i]);
  for (int c = 0; c < kUlawCodeCount; ++c) tables.expansion[c] = UlawExpansion(c);
  return tables;
}

std::vector<int32_t> Decoded(int32_t kind, const std::vector<uint8_t>& bytes, const StoredCodecTables& tables) {
  switch (kind) {
    case KindAdpcm: return DecodeAdpcmRange(bytes.data(), bytes.size(), tables);
    case KindPcm8: return DecodePcm8Range(bytes.data(), bytes.size());
    case KindUlaw: return DecodeUlawRange(bytes.data(), bytes.size(), tables);
    default: return DecodePcm16Range(bytes.data(), bytes.size());
  }
}

// Over the samples encoded; an ADPCM padding nibble is not compared.
double SnrDb(const std::vector<int32_t>& in, const std::vector<int32_t>& out) {
  double signal = 0.0;
  double noise = 0.0;
  for (size_t i = 0; i < in.size(); ++i) {
    const double x = in[i];
    const double e = x - (i < out.size() ? out[i] : 0);
    signal += x * x;
    noise += e * e;
  }
  if (noise == 0.0) return std::numeric_limits<double>::infinity();
  if (signal == 0.0) return -std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(signal / noise);
}

CodecCost CostOf(int32_t kind, const std::vector<int32_t>& samples, const StoredCodecTables& tables) {
  const SoundCodec* codec = FindCodec(kind);
  CodecState state;
  std::vector<uint8_t> bytes(codec->bytes(samples.size()));
  codec->encode(&state, samples.data(), samples.size(), bytes.data());
  return {kind, static_cast<int64_t>(bytes.size()), SnrDb(samples, Decoded(kind, bytes, tables))};
}

}  // namespace

double Dbfs(double magnitude) {
  return magnitude > 0.0 ? 20.0 * std::log10(magnitude / 32768.0) : -std::numeric_limits<double>::infinity();
}

void MeterBlock(LevelMeter* meter, const int32_t* samples, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const int32_t v = samples[i];
    const int32_t magnitude = std::abs(v);
    if (magnitude > meter->peak) meter->peak = magnitude;
    meter->energy += static_cast<double>(v) * v;
    MeterClip(meter, v);
    MeterSilence(meter, magnitude);
  }
  meter->samples += static_cast<int64_t>(n);
}

void FinishMeter(LevelMeter* meter) { EndRun(meter); }

SoundLevels LevelsOf(const LevelMeter& meter) {
  SoundLevels levels;
  levels.peakDbfs = Dbfs(meter.peak);
  levels.rmsDbfs = Dbfs(meter.samples > 0 ? std::sqrt(meter.energy / static_cast<double>(meter.samples)) : 0.0);
  levels.clipped = meter.clipped;
  levels.leadingSilence = meter.leading;
  levels.trailingSilence = meter.sinceLoud;
  return levels;
}

std::vector<CodecCost> CodecCostsOf(const std::vector<int32_t>& samples) {
  static const StoredCodecTables tables = ImageCodecTables();
  std::vector<CodecCost> costs;
  for (int32_t kind : {KindAdpcm, KindPcm8, KindUlaw, KindPcm16}) costs.push_back(CostOf(kind, samples, tables));
  return costs;
}
