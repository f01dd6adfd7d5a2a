#pragma once
// The frequency weightings of a sound level meter, A and C, as IEC 61672-1 defines them by the
// poles of an analog filter (20.6, 107.7, 737.9 and 12194 Hz, 0 dB at 1 kHz), as digital
// filters at the rate the chip plays a sound, and what a meter reads of the sound through them:
// the A-weighted RMS and the C-weighted peak, in dBFS.
//
// The chip plays at 8 to 32 kHz, where the highest pole lies near or beyond half the rate. A
// bilinear transform maps that pole to a zero at half the rate, and matched-z keeps next to
// nothing of its slope, both several dB off the analog curve in the top octave. So each pole
// below 1 kHz becomes a bilinear section, and the 12194 Hz pole a first-order section whose
// gain matches the analog pole's at 0, a quarter and half the rate. At the 1/3-octave
// frequencies below half the rate the filters read at most 0.2 dB below the analog curve at 8
// and 11 kHz, 0.35 dB at 16 kHz (at 6.3 kHz), 0.5 dB at 22 kHz (at 10 kHz) and 0.8 dB at 32
// kHz (at 12.5 kHz); the class 1 acceptance limits allow 1 dB up to 4 kHz, +1.5/-2 dB at
// 6.3 kHz, +2/-3 dB at 10 kHz and +2/-5 dB at 12.5 kHz.

#include <cstdint>
#include <vector>

enum class Weighting { A, C };

// y = b0 x + b1 x[-1] - a1 y[-1]
struct FirstOrderSection {
  double b0 = 1.0, b1 = 0.0, a1 = 0.0;
  double x1 = 0.0, y1 = 0.0;
};

struct WeightingFilter {
  FirstOrderSection sections[6];
  int count = 0;
  double gain = 1.0;  // brings the digital filter to 0 dB at 1 kHz
  double rateHz = 0.0;
};

// False when the rate is too slow for the weighting's poles (at most twice 737.9 Hz).
bool DesignWeighting(Weighting weighting, double rateHz, WeightingFilter* filter);

// One sample through the filter, which starts at rest (the chip starts every sound in silence).
double WeightSample(WeightingFilter* filter, double x);

// The filter's gain at hz in dB, from its coefficients.
double WeightingResponseDb(const WeightingFilter& filter, double hz);

// The analog weighting of the standard at hz, in dB: 0 at 1 kHz.
double AnalogWeightingDb(Weighting weighting, double hz);

// What a meter reads of a sound through the weightings, in dBFS on the 16-bit scale (a
// full-scale square wave is 0 dBFS RMS): the A-weighted RMS over every sample (a full-scale
// 1 kHz sine: -3.01 dBFS), and the C-weighted peak, sought between the samples too at four
// times the rate, as an analog meter sees it (a full-scale 1 kHz sine: 0 dBFS). Both are
// -infinity for silence.
struct WeightedLevels {
  double aRmsDbfs = 0.0;
  double cPeakDbfs = 0.0;
};

bool MeasureWeighted(const std::vector<int32_t>& samples, double rateHz, WeightedLevels* levels);
