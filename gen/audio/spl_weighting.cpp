#include "audio/spl_weighting.h"

#include <numbers>
#include <algorithm>
#include <cmath>
#include <complex>

#include "audio/sound_measure.h"

namespace {


// The poles of the standard's analog weightings, in Hz.
constexpr double kF1 = 20.598997;
constexpr double kF2 = 107.65265;
constexpr double kF3 = 737.86223;
constexpr double kF4 = 12194.217;

// s / (s + w) by the bilinear transform. Not pre-warped: the low poles lie far below half the
// rate, where the transform bends frequencies little, and warping the 737.9 Hz corner onto
// itself would take 0.25 dB off everything below it at 8 kHz.
FirstOrderSection HighPass(double hz, double rateHz) {
  const double k = std::numbers::pi * hz / rateHz;
  FirstOrderSection section;
  section.b0 = 1.0 / (1.0 + k);
  section.b1 = -section.b0;
  section.a1 = -(1.0 - k) / (1.0 + k);
  return section;
}

// The power gain of w / (s + w) at hz.
double PolePower(double hz, double poleHz) { return 1.0 / (1.0 + (hz / poleHz) * (hz / poleHz)); }

// x / (1 + sqrt(1 - x^2)): the root within -1..1 of x = 2r / (1 + r^2).
double HalfAngleRoot(double x) { return x / (1.0 + std::sqrt(std::max(0.0, 1.0 - x * x))); }

// w / (s + w) as g (1 + b z^-1) / (1 + a z^-1), whose power gain (al + be cos) / (1 + ga cos)
// matches the analog pole's at 0, a quarter and half the rate: a pole near or above half the
// rate keeps its slope up to there.
FirstOrderSection LowPass(double hz, double rateHz) {
  const double dc = 1.0;
  const double al = PolePower(rateHz / 4.0, hz);
  const double half = PolePower(rateHz / 2.0, hz);
  const double ga = (2.0 * al - dc - half) / (dc - half);
  const double be = (dc - half + ga * (dc + half)) / 2.0;
  const double a = HalfAngleRoot(ga);
  const double b = HalfAngleRoot(be / al);
  const double g = std::sqrt(al * (1.0 + a * a) / (1.0 + b * b));
  FirstOrderSection section;
  section.b0 = g;
  section.b1 = g * b;
  section.a1 = a;
  return section;
}

std::complex<double> SectionResponse(const FirstOrderSection& s, double hz, double rateHz) {
  const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * hz / rateHz);
  return (s.b0 + s.b1 * z1) / (1.0 + s.a1 * z1);
}

// Four times the rate: a windowed sinc of 16 taps for each of the three points between two
// samples, each phase summing to 1.
constexpr int kOversampling = 4;
constexpr int kHalfTaps = 8;

struct Interpolator {
  double taps[kOversampling - 1][2 * kHalfTaps] = {};
  Interpolator() {
    for (int k = 1; k < kOversampling; ++k) {
      double sum = 0.0;
      for (int m = -kHalfTaps + 1; m <= kHalfTaps; ++m) {
        const double t = static_cast<double>(k) / kOversampling - m;
        const double sinc = std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
        const double window = 0.5 * (1.0 + std::cos(std::numbers::pi * t / kHalfTaps));
        taps[k - 1][m + kHalfTaps - 1] = sinc * window;
        sum += sinc * window;
      }
      for (double& tap : taps[k - 1]) tap /= sum;
    }
  }
};

// The largest magnitude of the signal, at the samples and between them.
double InterpolatedPeak(const std::vector<double>& y) {
  static const Interpolator kInterpolator;
  const auto at = [&y](int64_t i) { return i >= 0 && i < static_cast<int64_t>(y.size()) ? y[i] : 0.0; };
  double peak = 0.0;
  for (int64_t n = 0; n < static_cast<int64_t>(y.size()); ++n) {
    peak = std::max(peak, std::fabs(y[n]));
    for (const auto& taps : kInterpolator.taps) {
      double v = 0.0;
      for (int m = -kHalfTaps + 1; m <= kHalfTaps; ++m) v += at(n + m) * taps[m + kHalfTaps - 1];
      peak = std::max(peak, std::fabs(v));
    }
  }
  return peak;
}

}  // namespace

bool DesignWeighting(Weighting weighting, double rateHz, WeightingFilter* filter) {
  if (!(rateHz > 2.0 * kF3)) return false;
  *filter = WeightingFilter{};
  filter->rateHz = rateHz;
  // The zeros at 0 Hz pair with the low poles: four for A, two for C.
  static const std::vector<double> kLowPolesA = {kF1, kF1, kF2, kF3};
  static const std::vector<double> kLowPolesC = {kF1, kF1};
  for (double hz : weighting == Weighting::A ? kLowPolesA : kLowPolesC) {
    filter->sections[filter->count++] = HighPass(hz, rateHz);
  }
  filter->sections[filter->count++] = LowPass(kF4, rateHz);
  filter->sections[filter->count++] = LowPass(kF4, rateHz);
  filter->gain = 1.0 / std::pow(10.0, WeightingResponseDb(*filter, 1000.0) / 20.0);
  return true;
}

double WeightSample(WeightingFilter* filter, double x) {
  double v = x * filter->gain;
  for (int i = 0; i < filter->count; ++i) {
    FirstOrderSection& s = filter->sections[i];
    const double y = s.b0 * v + s.b1 * s.x1 - s.a1 * s.y1;
    s.x1 = v;
    s.y1 = y;
    v = y;
  }
  return v;
}

double WeightingResponseDb(const WeightingFilter& filter, double hz) {
  std::complex<double> h = filter.gain;
  for (int i = 0; i < filter.count; ++i) h *= SectionResponse(filter.sections[i], hz, filter.rateHz);
  return 20.0 * std::log10(std::abs(h));
}

double AnalogWeightingDb(Weighting weighting, double hz) {
  const auto gain = [weighting](double f) {
    const double f2 = f * f;
    const double c = kF4 * kF4 * f2 / ((f2 + kF1 * kF1) * (f2 + kF4 * kF4));
    return weighting == Weighting::C ? c : c * f2 / std::sqrt((f2 + kF2 * kF2) * (f2 + kF3 * kF3));
  };
  return 20.0 * std::log10(gain(hz) / gain(1000.0));
}

bool MeasureWeighted(const std::vector<int32_t>& samples, double rateHz, WeightedLevels* levels) {
  WeightingFilter a, c;
  if (!DesignWeighting(Weighting::A, rateHz, &a) || !DesignWeighting(Weighting::C, rateHz, &c)) return false;
  double energy = 0.0;
  std::vector<double> weighted;
  weighted.reserve(samples.size() + kHalfTaps);
  for (int32_t sample : samples) {
    const double v = WeightSample(&a, sample);
    energy += v * v;
    weighted.push_back(WeightSample(&c, sample));
  }
  // The chip falls silent after the sound: the step back to zero is heard too.
  for (int i = 0; i < kHalfTaps; ++i) weighted.push_back(WeightSample(&c, 0.0));
  const double rms = samples.empty() ? 0.0 : std::sqrt(energy / static_cast<double>(samples.size()));
  levels->aRmsDbfs = Dbfs(rms);
  levels->cPeakDbfs = Dbfs(InterpolatedPeak(weighted));
  return true;
}
