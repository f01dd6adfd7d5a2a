#pragma once
// What a designer needs to know about a sound before burning it, measured on the samples the
// encoder is given (mixed to mono, scaled and limited as the import makes them): its peak and
// RMS level, the samples that were flattened at full scale, the silence at either end, and what
// each of the chip's codecs would make of it.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/sound_codecs.h"
#include "sound_decoders.h"
#include "sound_kinds.h"

// Below this level, a sound's ends count as silence.
constexpr double kSilenceDbfs = -60.0;

// Streaming levels of one sound: fed block by block, so that no sound is held whole.
struct LevelMeter {
  int64_t samples = 0;
  int32_t peak = 0;         // largest magnitude
  double energy = 0.0;      // sum of squares
  int64_t clipped = 0;      // samples inside flat runs at full scale
  int64_t leading = 0;      // silent samples before the first loud one
  int64_t sinceLoud = 0;    // silent samples after the last loud one
  bool heardLoud = false;
  int32_t runValue = 0;     // the full-scale value of the current run, 0 when none
  int64_t runLength = 0;
};

void MeterBlock(LevelMeter* meter, const int32_t* samples, size_t n);

// Closes a run still open at the sound's end.
void FinishMeter(LevelMeter* meter);

struct SoundLevels {
  double peakDbfs = 0.0;  // -infinity for digital silence
  double rmsDbfs = 0.0;
  int64_t clipped = 0;
  int64_t leadingSilence = 0;   // samples
  int64_t trailingSilence = 0;  // samples; 0 when the whole sound is silence (all leading)
};

SoundLevels LevelsOf(const LevelMeter& meter);

// One codec's cost for a sound: the bytes it stores and the SNR of what the chip plays back
// (the image's own decoder with the tables the image carries) against the samples encoded.
struct CodecCost {
  int32_t kind;
  int64_t bytes;
  double snrDb;  // +infinity when the chip plays the samples back exactly
};

// The codecs a map compares, in its column order.
inline constexpr int32_t kComparedCodecs[] = {KindAdpcm, KindPcm8, KindUlaw, KindPcm16};

// Every compared codec tried on a sound block by block, as the import streams it: each encoder
// carries its state from block to block, and each block is played back at once by the chip's
// decoder with the tables every image carries, so that no sound is held whole.
struct CodecMeter {
  struct Lane {
    int32_t kind = 0;
    CodecState encoder;
    AdpcmPlayback player;
    int64_t bytes = 0;
    int64_t noise = 0;  // sum of squared differences
  };
  CodecMeter();
  std::vector<Lane> lanes;
  int64_t signal = 0;
  std::vector<uint8_t> code;     // one block's bytes, reused
  std::vector<int32_t> played;   // one block played back, reused
};

// A block of samples; every block but a sound's last holds an even count (as the reader gives
// them), so that ADPCM's padding nibble comes only at the end. The import passes the bytes it
// encoded for the sound's own kind, so that its codec does not run twice.
void MeterCodecs(CodecMeter* meter, const int32_t* samples, size_t n, int32_t encodedKind = 0,
                 const uint8_t* encoded = nullptr);

std::vector<CodecCost> CodecCostsOf(const CodecMeter& meter);

// dBFS of a magnitude on the 16-bit scale; -infinity for 0.
double Dbfs(double magnitude);
