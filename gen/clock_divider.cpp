#include "clock_divider.h"

#include <cstdlib>

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
  played->hz = static_cast<int32_t>((int64_t{clock} + steps / 2) / steps);
  played->withinOnePercent = std::llabs(off) * 100 <= std::llabs(exactClock);
  return true;
}
