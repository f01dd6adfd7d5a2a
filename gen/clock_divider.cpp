#include "clock_divider.h"

#include <cstdlib>

#include "playback_rate.h"
#include "text_format.h"
#include "wrap_math.h"

bool ClockDivider(int32_t clock, int32_t rate, int32_t* divider) {
  int32_t quotient = 0;
  if (!WrapDiv(WrapAdd(clock, rate / 2), rate, &quotient)) return false;
  *divider = WrapSub(quotient, 1);
  return true;
}

bool ChipPlayedRate(int32_t clock, int32_t rate, PlayedRate* played) {
  int32_t divider = 0;
  if (!ClockDivider(clock, rate, &divider)) return false;
  // Compared as clocks, not as rounded rates, so that the 1 % edge is exact; in 64 bits, as a
  // rate times 256 steps times 100 outgrows 32.
  const int64_t steps = (divider & 0xFF) + 1;
  const int64_t exactClock = int64_t{rate} * steps;
  const int64_t off = int64_t{clock} - exactClock;
  played->hz = static_cast<int32_t>(ChipRateHz(clock, steps));
  played->withinOnePercent = std::llabs(off) * 100 <= std::llabs(exactClock);
  return true;
}

namespace {

constexpr int32_t kMaxSteps = 256;  // the group entry keeps 8 bits of the divider

int32_t RateOfSteps(int32_t clock, int32_t steps) {
  return steps >= 1 && steps <= kMaxSteps ? static_cast<int32_t>(ChipRateHz(clock, steps)) : 0;
}

std::string RateCell(int32_t hz) { return hz > 0 ? std::to_string(hz) : "-"; }

}  // namespace

bool NearestPlayableRates(int32_t clock, int32_t rate, PlayableRates* out) {
  PlayedRate played{};
  int32_t divider = 0;
  if (rate <= 0 || !ChipPlayedRate(clock, rate, &played) || !ClockDivider(clock, rate, &divider)) return false;
  const int32_t steps = (divider & 0xFF) + 1;
  *out = {rate, steps, played, RateOfSteps(clock, steps + 1), RateOfSteps(clock, steps - 1)};
  return true;
}

std::string PlayableRatesText(int32_t clock, const std::vector<int32_t>& rates) {
  // The clock is kept divided by 32; the heading names the main clock itself, as $MAINCLK does.
  std::string out = Format("Rates the chip plays with the main clock at %lld Hz (a script's $MAINCLK sets another):\n"
                           "%d Hz (the main clock divided by 32) divided by a whole number of steps, 1 to %d.\n",
                           static_cast<long long>(clock) * 32, clock, kMaxSteps);
  out += Format("  %8s %8s %6s %8s  %s\n", "asked Hz", "plays Hz", "steps", "off", "one step slower, faster");
  for (int32_t rate : rates.empty() ? std::vector<int32_t>(kCommonRates.begin(), kCommonRates.end()) : rates) {
    PlayableRates near{};
    if (!NearestPlayableRates(clock, rate, &near)) {
      out += Format("  %8d %8s %6s %8s  %s\n", rate, "-", "-", "-", "the chip cannot play it");
      continue;
    }
    const double off = 100.0 * (static_cast<double>(near.played.hz) - rate) / rate;
    out += Format("  %8d %8d %6d %+7.2f%%  %s, %s%s\n", rate, near.played.hz, near.steps, off,
                  RateCell(near.slower).c_str(), RateCell(near.faster).c_str(),
                  near.played.withinOnePercent ? "" : "  (more than 1 % off)");
  }
  return out;
}
