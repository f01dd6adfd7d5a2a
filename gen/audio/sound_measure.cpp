#include "audio/sound_measure.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "codec_tables.h"
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

const StoredCodecTables& ImageTables() {
  static const StoredCodecTables tables = ImageCodecTables();
  return tables;
}

// Exact in 64 bits: a squared difference of two 16-bit samples is below 2^32, so 2^31 samples
// of it still fit.
int64_t NoiseOf(const int32_t* samples, size_t n, const int32_t* played) {
  int64_t noise = 0;
  for (size_t i = 0; i < n; ++i) {
    const int64_t e = int64_t{samples[i]} - played[i];
    noise += e * e;
  }
  return noise;
}

// The squared error of one block played back; an ADPCM block of an odd count plays one more
// sample, the padding nibble, which is not compared.
int64_t PlayBackNoise(CodecMeter* meter, CodecMeter::Lane* lane, const int32_t* samples, size_t n,
                      const uint8_t* code, size_t bytes) {
  switch (lane->kind) {
    case KindAdpcm:
      DecodeAdpcmBlock(&lane->player, code, bytes, ImageTables(), meter->played.data());
      return NoiseOf(samples, n, meter->played.data());
    case KindPcm8: return NoiseOf(samples, n, DecodePcm8Range(code, bytes).data());
    case KindUlaw: return NoiseOf(samples, n, DecodeUlawRange(code, bytes, ImageTables()).data());
    default: return NoiseOf(samples, n, DecodePcm16Range(code, bytes).data());
  }
}

// The block buffers only grow, to the largest block any lane needs: nothing is cleared or
// allocated again block after block.
void MeterLane(CodecMeter* meter, CodecMeter::Lane* lane, const int32_t* samples, size_t n, const uint8_t* encoded) {
  const SoundCodec* codec = FindCodec(lane->kind);
  const size_t bytes = codec->bytes(n);
  if (meter->code.size() < bytes) meter->code.resize(bytes);
  if (meter->played.size() < 2 * bytes) meter->played.resize(2 * bytes);
  if (encoded == nullptr) {
    // The lanes run the chip tools' encoders, which give every block's bytes at once.
    codec->encode(&lane->encoder, samples, n, false, &meter->code);
    encoded = meter->code.data();
  }
  lane->noise += PlayBackNoise(meter, lane, samples, n, encoded, bytes);
  lane->bytes += static_cast<int64_t>(bytes);
}

double SnrDb(int64_t signal, int64_t noise) {
  if (noise == 0) return std::numeric_limits<double>::infinity();
  if (signal == 0) return -std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(static_cast<double>(signal) / static_cast<double>(noise));
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

CodecMeter::CodecMeter() {
  for (int32_t kind : kComparedCodecs) lanes.push_back({kind, {}, {}, 0, 0});
}

void MeterCodecs(CodecMeter* meter, const int32_t* samples, size_t n, int32_t encodedKind, const uint8_t* encoded) {
  for (size_t i = 0; i < n; ++i) meter->signal += int64_t{samples[i]} * samples[i];
  for (CodecMeter::Lane& lane : meter->lanes) {
    MeterLane(meter, &lane, samples, n, lane.kind == encodedKind ? encoded : nullptr);
  }
}

std::vector<CodecCost> CodecCostsOf(const CodecMeter& meter) {
  std::vector<CodecCost> costs;
  for (const CodecMeter::Lane& lane : meter.lanes) costs.push_back({lane.kind, lane.bytes, SnrDb(meter.signal, lane.noise)});
  return costs;
}
