#include "audio/mains_hum.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "audio/butterworth_filter.h"
#include "audio/fixed_grid.h"

namespace {

constexpr double kBlockSeconds = 2.0;
constexpr double kShortestSeconds = 0.5;
constexpr double kAveragedHz = 1000;  // about the rate the sound is averaged down to
constexpr int kMains[] = {50, 60};
// The neighbours a line is taken against, in bins of the block (0.5 Hz in 2 s): beyond the
// main lobe of the Hann window, two bins to either side.
constexpr double kNeighbours[] = {-4, -3, 3, 4};
constexpr int kHighestCutoffHz = 4000;
constexpr int kCutoffStepHz = 10;

// The power of a sinusoid at hz in a Hann-windowed block, as a fraction of full scale squared:
// Goertzel's recurrence, the window's sum being half the block's length.
double LinePower(const std::vector<double>& block, const std::vector<double>& window, double hz, double rate) {
  const double c = OnGrid(2 * std::cos(2 * std::numbers::pi * hz / rate));
  double s1 = 0, s2 = 0;
  for (size_t i = 0; i < block.size(); ++i) {
    const double s = block[i] * window[i] + c * s1 - s2;
    s2 = s1, s1 = s;
  }
  const double sum = static_cast<double>(block.size()) / 2;
  return 2 * (s1 * s1 + s2 * s2 - c * s1 * s2) / (sum * sum);
}

// What stands out at hz above the sound around it.
double LineAboveNeighbours(const std::vector<double>& block, const std::vector<double>& window, double hz,
                           double rate, double bin) {
  double around = 0;
  for (double k : kNeighbours) around += LinePower(block, window, hz + k * bin, rate);
  return std::max(0.0, LinePower(block, window, hz, rate) - around / std::size(kNeighbours));
}

// How much of a line at hz the averaging of `count` samples at rate keeps, in power.
double AveragingGain(double hz, int count, double rate) {
  const double x = std::numbers::pi * hz / rate;
  const double gain = std::sin(count * x) / (count * std::sin(x));
  return gain * gain;
}

// The samples averaged count at a time, as fractions of full scale.
std::vector<double> AveragedDown(const std::vector<int32_t>& samples, int count) {
  std::vector<double> low(samples.size() / static_cast<size_t>(count));
  for (size_t j = 0; j < low.size(); ++j) {
    double sum = 0;
    for (int i = 0; i < count; ++i) sum += samples[j * static_cast<size_t>(count) + static_cast<size_t>(i)];
    low[j] = sum / count / 32768.0;
  }
  return low;
}

double MeanPower(const std::vector<int32_t>& samples) {
  double sum = 0;
  for (int32_t v : samples) sum += static_cast<double>(v) * v;
  return samples.empty() ? 0 : sum / static_cast<double>(samples.size()) / (32768.0 * 32768.0);
}

double DbUnder(double whole, double part) { return part > 0 ? 10 * std::log10(whole / part) : HUGE_VAL; }

}  // namespace

MainsHum MeasureMainsHum(const std::vector<int32_t>& samples, double rateHz) {
  MainsHum hum;
  const int count = std::max(1, static_cast<int>(rateHz / kAveragedHz));
  const double rate = rateHz / count;
  const std::vector<double> low = AveragedDown(samples, count);
  const size_t length = std::min(low.size(), static_cast<size_t>(std::lround(kBlockSeconds * rate)));
  const double sound = MeanPower(samples);
  if (static_cast<double>(samples.size()) < kShortestSeconds * rateHz || length < 8 || sound <= 0) return hum;
  std::vector<double> window(length);
  for (size_t i = 0; i < length; ++i) window[i] = OnGrid(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / length));
  const double bin = rate / static_cast<double>(length);
  const size_t blocks = low.size() / length;
  double power[std::size(kMains)][kHumLines] = {};
  std::vector<double> block(length);
  for (size_t b = 0; b < blocks; ++b) {
    std::copy_n(low.begin() + static_cast<ptrdiff_t>(b * length), length, block.begin());
    for (size_t m = 0; m < std::size(kMains); ++m) {
      for (int k = 0; k < kHumLines; ++k) {
        const double hz = kMains[m] * (k + 1.0);
        power[m][k] += LineAboveNeighbours(block, window, hz, rate, bin) / AveragingGain(hz, count, rateHz) / blocks;
      }
    }
  }
  double total[std::size(kMains)] = {};
  for (size_t m = 0; m < std::size(kMains); ++m) total[m] = power[m][0] + power[m][1] + power[m][2];
  const size_t m = total[1] > total[0] ? 1 : 0;
  hum.mainsHz = kMains[m];
  for (int k = 0; k < kHumLines; ++k) hum.lineDb[k] = DbUnder(sound, power[m][k]);
  hum.belowRmsDb = DbUnder(sound, total[m]);
  return hum;
}

int HumRemovingCutoff(const MainsHum& hum, const HumHighpass& had, int order, double targetDb, double heardDb) {
  // The rest of the sound, as a fraction of its power: a sound that is all hum keeps nothing.
  const double rest = 1 - std::pow(10.0, -hum.belowRmsDb / 10);
  if (hum.mainsHz == 0 || !(rest > 0) || had.rateHz <= 0) return 0;
  const int highest = std::min(kHighestCutoffHz, static_cast<int>(std::ceil(had.rateHz / 2)) - 1);
  for (int hz = kCutoffStepHz; hz <= highest; hz += kCutoffStepHz) {
    bool enough = true;
    for (int k = 0; k < kHumLines && enough; ++k) {
      if (!std::isfinite(hum.lineDb[k]) || (k > 0 && hum.lineDb[k] >= heardDb)) continue;
      const double line = hum.mainsHz * (k + 1.0);
      // The line under the rest as the take had it, before the high-pass it had.
      double under = hum.lineDb[k] + 10 * std::log10(rest);
      if (had.hz > 0) under -= ButterworthHighpassLossDb(had.hz, had.rateHz, had.order, line);
      enough = under + ButterworthHighpassLossDb(hz, had.rateHz, order, line) >= targetDb;
    }
    if (enough) return hz;
  }
  return 0;
}
