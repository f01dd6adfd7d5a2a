#include "fit_rates.h"

#include <algorithm>

#include "clock_divider.h"
#include "playback_rate.h"

namespace {

constexpr int64_t kMostSteps = 256;  // the group entry keeps 8 bits of the divider

// The rate a link names for a rate played: a designer reads "22050" in a script more easily than
// "22261", and both give the chip the same divider.
int32_t LinkRateFor(int32_t clock, int32_t played) {
  for (int32_t common : kCommonRates) {
    PlayedRate p{};
    if (ChipPlayedRate(clock, common, &p) && p.hz == played) return common;
  }
  return played;
}

}  // namespace

std::vector<FitRate> FitRates(int32_t clock, int32_t sourceRate) {
  const int32_t lowest = sourceRate < kFitLowestRate ? 1 : kFitLowestRate;
  std::vector<FitRate> rates;
  for (int64_t steps = kMostSteps; steps >= 1; --steps) {
    const int64_t hz = ChipRateHz(clock, steps);
    if (hz < lowest || hz > sourceRate) continue;
    // A rate is one the chip plays only when its own divider comes back to these steps.
    PlayedRate p{};
    const int32_t played = static_cast<int32_t>(hz);
    if (!ChipPlayedRate(clock, played, &p) || p.hz != played) continue;
    if (!rates.empty() && rates.back().played == played) continue;
    rates.push_back({LinkRateFor(clock, played), played});
  }
  return rates;
}
