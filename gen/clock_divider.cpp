#include "clock_divider.h"

#include "wrap_math.h"

bool ClockDivider(int32_t clock, int32_t rate, int32_t* divider) {
  int32_t quotient = 0;
  if (!WrapDiv(WrapAdd(clock, rate / 2), rate, &quotient)) return false;
  *divider = WrapSub(quotient, 1);
  return true;
}
