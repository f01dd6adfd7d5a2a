#pragma once
// The chip divides its main clock (kept divided by 32) by this value plus one to play at a
// rate: ((clock + rate / 2) / rate) - 1, in signed 32-bit integer arithmetic.

#include <cstdint>

// False (and *divider untouched) when rate is 0 or the quotient does not fit.
bool ClockDivider(int32_t clock, int32_t rate, int32_t* divider);
