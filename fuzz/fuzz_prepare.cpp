// The preparation of a recording on arbitrary file bytes: whatever libsndfile opens goes through
// the mix, the high-pass, the trim, the resampler, the loudness gain, the limiter and the dither,
// with the options the first two bytes pick. A refusal is fine; a crash, a sanitizer report, a
// prepared length that differs from the samples written, a limited sample past its ceiling or
// one the limiter had to cut there is not.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/peak_limiter.h"
#include "audio/sound_preparation.h"
#include "fuzz_support.h"
#include "sound_kinds.h"

namespace {

// Small sounds keep the run fast: the input is bounded by -max_len, the frames (which a
// compressed file may announce far beyond its bytes) and the resampler's growth here.
constexpr int64_t kMostFrames = 1 << 16;
constexpr int32_t kKinds[] = {KindAdpcm, KindPcm8, KindUlaw, KindPcm16};

PreparationOptions PickOptions(uint8_t flags, uint8_t value) {
  PreparationOptions o;
  o.highpass = flags & 1;
  o.highpassHz = 20 + value * 8;
  o.highpassOrder = 2 + value % 7;
  o.trim = flags & 2;
  o.trimDbfs = -20.0 - value % 80;
  o.trimHoldMs = value % 50;
  o.trimFromPeak = (value & 1) != 0;
  o.resample = flags & 4;
  o.loudness = flags & 8;
  o.loudnessLufs = -40.0 + value % 39;
  o.limit = flags & 16;
  o.limitDbfs = -static_cast<double>(value % 12);
  o.dither = flags & 32;
  return o;
}

// A rate the resampler may take the sound to: up to four times its own, never above the frames bound.
int32_t PickRate(const SourceInfo& info, uint8_t value) {
  static const double kRatios[] = {0.25, 0.5, 0.7, 1.0, 1.3, 2.0, 4.0};
  const double rate = info.rate * kRatios[value % 7];
  return rate >= 1 && rate <= 1e6 ? static_cast<int32_t>(rate) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = (EnterScratchFolder("prepare"), SilenceStandardOutput(), true);
  (void)ready;
  if (size < 2) return 0;
  const PreparationOptions options = PickOptions(data[0], data[1]);
  const int32_t kind = kKinds[data[0] >> 6];
  WriteFileOrAbort("in.snd", data + 2, size - 2);
  SourceInfo info;
  std::string reason;
  if (!ProbeSource("in.snd", &info, &reason) || info.frames > kMostFrames) return 0;
  const int32_t rate = options.resample ? PickRate(info, data[1]) : 0;
  PreparationFiles files{std::tmpfile(), std::tmpfile()};
  if (files.stage == nullptr || files.prepared == nullptr) std::abort();
  PreparationRecord record;
  if (PrepareSound({&options, "in.snd", kind, rate, 1.0, "", 0}, files, &record, &reason)) {
    if (record.frames < 1 || std::fseek(files.prepared, 0, SEEK_END) != 0) std::abort();
    if (std::ftell(files.prepared) - record.offset != 2 * static_cast<long>(record.frames)) std::abort();
    std::vector<int16_t> samples(record.frames);
    std::fseek(files.prepared, static_cast<long>(record.offset), SEEK_SET);
    if (std::fread(samples.data(), 2, samples.size(), files.prepared) != samples.size()) std::abort();
    // The limiter holds every sample within its ceiling by its gain, from the first sample on:
    // none is ever cut there.
    for (const PreparationNote& note : record.notes) {
      if (options.limit && note.clipped) std::abort();
    }
    // Without the dither's noise on top, the limiter's output is the prepared signal.
    if (options.limit && !options.dither) {
      const int32_t ceiling = UsualLimiterSettings(options.limitDbfs, record.playedRate).ceiling;
      for (int16_t v : samples) {
        if (v > ceiling || v < -ceiling) std::abort();
      }
    }
  }
  std::fclose(files.stage);
  std::fclose(files.prepared);
  return 0;
}
