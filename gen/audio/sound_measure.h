#pragma once
// What a designer needs to know about a sound before burning it, measured on the samples the
// encoder is given (mixed to mono, scaled and limited as the import makes them): its peak and
// RMS level, the samples that were flattened at full scale, the silence at either end, and what
// each of the chip's codecs would make of it.

#include <cstddef>
#include <cstdint>
#include <vector>

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

// Every codec the chip decodes, in the order ADPCM, PCM8, u-law, PCM16.
std::vector<CodecCost> CodecCostsOf(const std::vector<int32_t>& samples);

// dBFS of a magnitude on the 16-bit scale; -infinity for 0.
double Dbfs(double magnitude);
