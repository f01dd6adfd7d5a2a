#include "audio/peak_limiter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <cstdlib>
#include <vector>

namespace {

struct StartRow {
  double amplitude;  // of full scale, as the loudness gain left it
  double hz;
  int32_t rate;
};

// A sound loud from its very first sample: the limiter holds it within the ceiling from there
// on, with no sample cut to the ceiling and no flat top.
const StartRow kLoudStarts[] = {{1.0, 1000, 16000}, {4.0, 1000, 16000}, {1.0, 100, 8000}, {2.0, 440, 44100}};

TEST(PeakLimiterTest, NeverClipsAtTheStart) {
  for (const StartRow& row : kLoudStarts) {
    SCOPED_TRACE(row.amplitude);
    SCOPED_TRACE(row.hz);
    const LimiterSettings settings = UsualLimiterSettings(-1.0, row.rate);
    PeakLimiter limiter(settings);
    std::vector<double> in(static_cast<size_t>(row.rate / 10));
    for (size_t i = 0; i < in.size(); ++i) in[i] = row.amplitude * 32767 * std::sin(2 * std::numbers::pi * row.hz * i / row.rate);
    std::vector<int32_t> out;
    limiter.Push(in.data(), in.size(), &out);
    limiter.Finish(&out);
    ASSERT_EQ(out.size(), in.size());
    EXPECT_EQ(limiter.Clipped(), 0);
    int atCeiling = 0, longestFlat = 0, flat = 0;
    for (size_t i = 0; i < out.size(); ++i) {
      EXPECT_LE(std::abs(out[i]), settings.ceiling) << i;
      const bool top = std::abs(out[i]) == settings.ceiling;
      atCeiling += top ? 1 : 0;
      flat = top && i > 0 && out[i] == out[i - 1] ? flat + 1 : 0;
      longestFlat = std::max(longestFlat, flat);
    }
    EXPECT_EQ(longestFlat, 0) << atCeiling << " samples at the ceiling";
    // The first peak is reduced, not passed at full level or cut.
    EXPECT_LT(limiter.DeepestDb(), -0.9);
  }
}

}  // namespace
