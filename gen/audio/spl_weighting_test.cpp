#include "audio/spl_weighting.h"

#include <numbers>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kInf = HUGE_VAL;

// IEC 61672-1:2013 Table 3: each nominal 1/3-octave frequency, the A and C weightings there
// (dB) and the class 1 acceptance limits (dB above and below). The weightings hold at the exact
// base-ten frequencies, 1000 x 10^(n/10).
struct Band {
  double nominalHz;
  int n;  // exact frequency 1000 x 10^(n/10)
  double a, c, above, below;
};

const Band kBands[] = {
    {10, -20, -70.4, -14.3, 3.0, kInf}, {12.5, -19, -63.4, -11.2, 2.5, kInf}, {16, -18, -56.7, -8.5, 2.0, 4.0},
    {20, -17, -50.5, -6.2, 2.0, 2.0},   {25, -16, -44.7, -4.4, 2.0, 1.5},     {31.5, -15, -39.4, -3.0, 1.5, 1.5},
    {40, -14, -34.6, -2.0, 1.0, 1.0},   {50, -13, -30.2, -1.3, 1.0, 1.0},     {63, -12, -26.2, -0.8, 1.0, 1.0},
    {80, -11, -22.5, -0.5, 1.0, 1.0},   {100, -10, -19.1, -0.3, 1.0, 1.0},    {125, -9, -16.1, -0.2, 1.0, 1.0},
    {160, -8, -13.4, -0.1, 1.0, 1.0},   {200, -7, -10.9, 0.0, 1.0, 1.0},      {250, -6, -8.6, 0.0, 1.0, 1.0},
    {315, -5, -6.6, 0.0, 1.0, 1.0},     {400, -4, -4.8, 0.0, 1.0, 1.0},       {500, -3, -3.2, 0.0, 1.0, 1.0},
    {630, -2, -1.9, 0.0, 1.0, 1.0},     {800, -1, -0.8, 0.0, 1.0, 1.0},       {1000, 0, 0.0, 0.0, 0.7, 0.7},
    {1250, 1, 0.6, 0.0, 1.0, 1.0},      {1600, 2, 1.0, -0.1, 1.0, 1.0},       {2000, 3, 1.2, -0.2, 1.0, 1.0},
    {2500, 4, 1.3, -0.3, 1.0, 1.0},     {3150, 5, 1.2, -0.5, 1.0, 1.0},       {4000, 6, 1.0, -0.8, 1.0, 1.0},
    {5000, 7, 0.5, -1.3, 1.5, 1.5},     {6300, 8, -0.1, -2.0, 1.5, 2.0},      {8000, 9, -1.1, -3.0, 1.5, 2.5},
    {10000, 10, -2.5, -4.4, 2.0, 3.0},  {12500, 11, -4.3, -6.2, 2.0, 5.0},    {16000, 12, -6.6, -8.5, 2.5, 16.0},
    {20000, 13, -9.3, -11.2, 3.0, kInf},
};

// The rates the chip plays the common rates at with its default clock (512000 counts a second):
// 11025 and 22050 come out at 11130 and 22261 Hz.
const double kChipRates[] = {8000.0, 512000.0 / 46, 16000.0, 512000.0 / 23, 32000.0};

// The filter's gain at hz measured as a meter would: a sine through it, the RMS after it has
// settled, over whole periods.
double MeasuredGainDb(Weighting weighting, double rate, double hz) {
  WeightingFilter filter;
  if (!DesignWeighting(weighting, rate, &filter)) return -kInf;
  const int64_t settle = static_cast<int64_t>(rate / 2);
  const double periods = std::ceil(rate / 2 / (rate / hz));
  const int64_t measured = std::llround(periods * rate / hz);
  double energy = 0.0;
  for (int64_t i = 0; i < settle + measured; ++i) {
    const double y = WeightSample(&filter, std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    if (i >= settle) energy += y * y;
  }
  return 10 * std::log10(2 * energy / static_cast<double>(measured));
}

class WeightingAtChipRate : public testing::TestWithParam<double> {};

// Every band below half the rate, A and C, within the class 1 limits of the standard's table.
TEST_P(WeightingAtChipRate, MatchesTheStandardsTable) {
  const double rate = GetParam();
  int bands = 0;
  for (const Band& band : kBands) {
    const double hz = 1000.0 * std::pow(10.0, band.n / 10.0);
    if (hz >= rate / 2) break;
    ++bands;
    for (auto [weighting, expected] : {std::pair{Weighting::A, band.a}, std::pair{Weighting::C, band.c}}) {
      const double off = MeasuredGainDb(weighting, rate, hz) - expected;
      EXPECT_TRUE(off <= band.above && off >= -band.below)
          << (weighting == Weighting::A ? "A" : "C") << " at " << band.nominalHz << " Hz, rate " << rate << ": "
          << off << " dB off the table";
    }
  }
  EXPECT_GE(bands, 25);  // up to 3150 Hz at 8 kHz
}

INSTANTIATE_TEST_SUITE_P(Rates, WeightingAtChipRate, testing::ValuesIn(kChipRates));

// A full-scale sine at 1 kHz, its first and last fadeSeconds faded (a raised cosine).
std::vector<int32_t> FullScaleSine(double rate, double fadeSeconds) {
  std::vector<int32_t> samples(static_cast<size_t>(rate));
  const double fade = fadeSeconds * rate;
  for (size_t i = 0; i < samples.size(); ++i) {
    const double edge = static_cast<double>(std::min(i, samples.size() - 1 - i));
    const double gain = edge < fade ? 0.5 - 0.5 * std::cos(std::numbers::pi * edge / fade) : 1.0;
    samples[i] = static_cast<int32_t>(std::lrint(gain * 32767 * std::sin(2 * std::numbers::pi * 1000 * i / rate + 0.39)));
  }
  return samples;
}

// The calibration the sound pressure rests on: a full-scale 1 kHz sine reads -3.01 dBFS
// A-weighted RMS and a 0 dBFS C-weighted peak at every rate, whatever its phase against the
// samples (eight samples a period at 8 kHz miss its top by up to 0.7 dB). Its peak is the steady
// sine's: a sine that starts at full scale at once overshoots through C by 0.3 dB, as in a meter.
TEST(MeasureWeighted, FullScaleSineAtOneKilohertz) {
  for (double rate : kChipRates) {
    WeightedLevels levels;
    ASSERT_TRUE(MeasureWeighted(FullScaleSine(rate, 0.0), rate, &levels));
    EXPECT_NEAR(levels.aRmsDbfs, -3.01, 0.02) << rate;
    ASSERT_TRUE(MeasureWeighted(FullScaleSine(rate, 0.02), rate, &levels));
    EXPECT_NEAR(levels.cPeakDbfs, 0.0, 0.02) << rate;
  }
  WeightedLevels silent;
  ASSERT_TRUE(MeasureWeighted(std::vector<int32_t>(100, 0), 8000, &silent));
  EXPECT_EQ(silent.aRmsDbfs, -kInf);
}

}  // namespace
