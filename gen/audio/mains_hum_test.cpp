#include "audio/mains_hum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "audio/audio_test_support.h"
#include "audio/butterworth_filter.h"

namespace {

// A voice (audiotest::Voice) and under it, when asked, a hum of lines at mains Hz and its
// harmonics, each `humDb` under the voice's power (+inf: none).
struct Take {
  double pitch;
  double mains;
  double humDb[kHumLines];
  double seconds = 3;
};

std::vector<int32_t> TakeSamples(const Take& take, double rate, double* voicePower, double* humPower) {
  const std::vector<double> voice = audiotest::Voice(take.pitch, take.seconds, rate);
  *voicePower = 0.01, *humPower = 0;  // the voice 20 dB under full scale
  std::vector<int32_t> samples(voice.size());
  for (size_t i = 0; i < voice.size(); ++i) {
    double v = voice[i] * 0.1;
    for (int k = 0; k < kHumLines; ++k) {
      if (!std::isfinite(take.humDb[k])) continue;
      const double amplitude = std::sqrt(2 * 0.01 * std::pow(10.0, -take.humDb[k] / 10));
      v += amplitude * std::sin(2 * std::numbers::pi * take.mains * (k + 1) * static_cast<double>(i) / rate + k);
      if (i == 0) *humPower += amplitude * amplitude / 2;
    }
    samples[i] = static_cast<int32_t>(std::lround(v * 32767));
  }
  return samples;
}

struct HumRow {
  Take take;
  double rate;
  int mainsHz;          // found; 0: too short
  double belowRmsDb;    // expected, within 1.5 dB; +inf for none
};

constexpr double kNone = HUGE_VAL;

// A hum under a voice is found at its level; a voice whose pitch passes 100 or 150 Hz, a
// tone of 100 Hz alone and a mains a little off its frequency are read for what they are.
const HumRow kHumRows[] = {
    {{150, 50, {12, kNone, kNone}}, 16000, 50, 12},
    {{150, 50, {25, kNone, kNone}}, 8000, 50, 25},
    {{120, 60, {15, 20, 25}}, 22050, 60, 13.5},
    {{100, 50, {kNone, 10, kNone}}, 16000, 50, 10},  // a 100 Hz line, a harmonic without its mains line
    {{100, 50.2, {12, kNone, kNone}}, 32000, 50, 12},
    {{100, 50, {kNone, kNone, kNone}}, 16000, 50, kNone},
    {{150, 50, {kNone, kNone, kNone}}, 8000, 50, kNone},
    {{200, 50, {10, kNone, kNone}, 0.4}, 16000, 0, 0},
};

TEST(MainsHumTest, FindsTheHumUnderAVoice) {
  for (const HumRow& row : kHumRows) {
    SCOPED_TRACE(testing::Message() << row.take.pitch << " Hz voice, " << row.take.mains << " Hz mains at "
                                    << row.rate << " Hz");
    double voice = 0, hum = 0;
    const MainsHum found = MeasureMainsHum(TakeSamples(row.take, row.rate, &voice, &hum), row.rate);
    EXPECT_EQ(found.mainsHz, row.mainsHz);
    if (row.mainsHz == 0) continue;
    if (std::isfinite(row.belowRmsDb)) {
      EXPECT_NEAR(found.belowRmsDb, 10 * std::log10((voice + hum) / hum), 1.5);
      EXPECT_NEAR(found.belowRmsDb, row.belowRmsDb, 1.5);
    } else {
      // Well clear of a warning: the voice's own lines at 100 to 180 Hz stay far under it, and
      // nothing is found at the mains frequency itself.
      EXPECT_GT(found.belowRmsDb, 25);
      EXPECT_GT(found.lineDb[0], 40);
    }
  }
}

struct CutoffRow {
  double lineDb[kHumLines];  // measured after the high-pass the take had
  HumHighpass had;
  int cutoff;
};

// The cut-off of an order-6 high-pass that takes each line 40 dB under the rest of the sound,
// counting back what the high-pass the take had took already.
const CutoffRow kCutoffRows[] = {
    {{12.4, kNone, kNone}, {80, 4, 48000}, 120},  // 80:4 took 16.4 dB at 50 Hz: 44.3 dB are needed
    {{12.4, kNone, kNone}, {0, 0, 48000}, 90},    // 27.9 dB: (85.3 / 50)^12 = 611
    {{28, kNone, kNone}, {0, 0, 16000}, 70},      // 12 dB: 62.6 Hz
    {{12, 14, kNone}, {0, 0, 16000}, 170},        // 100 Hz 13.5 dB under the rest: 166 Hz
    {{12, 25, kNone}, {0, 0, 16000}, 90},         // a partial 25 dB under at 100 Hz is left alone
    {{0, kNone, kNone}, {0, 0, 16000}, 0},        // all hum: nothing is left to keep
};

TEST(MainsHumTest, TheCutoffThatTakesItOut) {
  for (const CutoffRow& row : kCutoffRows) {
    MainsHum hum;
    hum.mainsHz = 50;
    double lines = 0;
    for (int k = 0; k < kHumLines; ++k) {
      hum.lineDb[k] = row.lineDb[k];
      lines += std::isfinite(row.lineDb[k]) ? std::pow(10.0, -row.lineDb[k] / 10) : 0;
    }
    hum.belowRmsDb = -10 * std::log10(lines);
    const int cutoff = HumRemovingCutoff(hum, row.had, 6, 40, 20);
    EXPECT_EQ(cutoff, row.cutoff) << row.lineDb[0] << " " << row.had.hz;
    if (cutoff == 0) continue;
    // Each line, as the take had it, 40 dB under the rest at the cut-off and not 10 Hz below.
    const double rest = 10 * std::log10(1 - lines);
    for (int k = 0; k < kHumLines; ++k) {
      if (!std::isfinite(row.lineDb[k]) || (k > 0 && row.lineDb[k] >= 20)) continue;
      const double hz = 50.0 * (k + 1);
      const double had = row.had.hz > 0 ? ButterworthHighpassLossDb(row.had.hz, row.had.rateHz, row.had.order, hz) : 0;
      EXPECT_GE(row.lineDb[k] + rest - had + ButterworthHighpassLossDb(cutoff, row.had.rateHz, 6, hz), 40);
    }
  }
}

}  // namespace
