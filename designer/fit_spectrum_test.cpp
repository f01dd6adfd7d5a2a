#include "fit_spectrum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "wav_writer.h"

namespace {

SoundSpectrum Of(const testwav::Signal& signal, uint32_t frames, uint32_t rate) {
  const std::vector<int32_t> samples = testwav::MakeSamples(signal, frames, rate);
  SoundSpectrum spectrum(static_cast<int32_t>(rate));
  // In uneven blocks, as a reader gives them.
  for (size_t at = 0; at < samples.size(); at += 777) {
    spectrum.Add(samples.data() + at, std::min<size_t>(777, samples.size() - at));
  }
  spectrum.Finish();
  return spectrum;
}

struct AtRow {
  const char* what;
  int32_t played;
  double kept, uncertain, difference, within;
};

// A 1000 Hz tone at 16000 Hz: kept where the rate's half lies well above it, gone where it lies
// below, half kept in the resampler's transition.
TEST(FitSpectrum, ATone) {
  const SoundSpectrum tone = Of({.shape = testwav::Shape::Sine, .freq = 1000, .amplitude = 0.5}, 32000, 16000);
  const double d8000 = 4 * std::pow(std::sin(std::numbers::pi / 8), 2);
  const AtRow rows[] = {
      {"its own rate", 16000, 1.0, 0.0, 4 * std::pow(std::sin(std::numbers::pi / 16), 2), 1e-3},
      {"half the rate", 8000, 1.0, 0.0, d8000, 1e-3},
      {"the rate's half just above it: in the transition", 2105, 0.5, 1.0, -1, 0.08},
      // Only what the tone's abrupt start and end spread over the band.
      {"the rate's half below it: nothing kept", 1900, 0.0, 0.0, 0.0, 1e-3},
  };
  for (const AtRow& row : rows) {
    const SoundSpectrum::AtRate at = tone.At(row.played);
    EXPECT_NEAR(at.kept, row.kept, row.within) << row.what;
    EXPECT_NEAR(at.uncertain, row.uncertain, std::max(row.within, 1e-3)) << row.what;
    if (row.difference >= 0) {
      EXPECT_NEAR(at.difference, row.difference, row.within * 4) << row.what;
    }
  }
  EXPECT_GT(tone.Tonality(), 0.99);
}

// White noise: a rate keeps its share of the band, less the transition's part.
TEST(FitSpectrum, WhiteNoiseKeepsItsShareOfTheBand) {
  const SoundSpectrum noise = Of({.shape = testwav::Shape::Noise, .amplitude = 0.3, .seed = 7}, 64000, 16000);
  for (int32_t played : {4000, 8000, 11130}) {
    const double band = played / 16000.0;
    const SoundSpectrum::AtRate at = noise.At(played);
    EXPECT_NEAR(at.kept, band * 0.948, 0.01) << played;
    EXPECT_NEAR(at.uncertain, band * 0.30, 0.01) << played;
  }
  EXPECT_LT(noise.Tonality(), 0.1);
}

TEST(FitSpectrum, SilenceKeepsEverything) {
  SoundSpectrum silence(16000);
  const std::vector<int32_t> zeros(5000, 0);
  silence.Add(zeros.data(), zeros.size());
  silence.Finish();
  EXPECT_TRUE(silence.silent());
  EXPECT_EQ(silence.At(8000).kept, 1.0);
  EXPECT_EQ(silence.Tonality(), 0.0);
}

}  // namespace
