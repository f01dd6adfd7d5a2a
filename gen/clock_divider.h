#pragma once
// The chip divides its main clock (kept divided by 32) by this value plus one to play at a
// rate: ((clock + rate / 2) / rate) - 1, in signed 32-bit integer arithmetic.

#include <cstdint>

// False (and *divider untouched) when rate is 0 or the quotient does not fit.
bool ClockDivider(int32_t clock, int32_t rate, int32_t* divider);

struct PlayedRate {
  int32_t hz;             // rounded to the nearest hertz
  bool withinOnePercent;  // of the rate asked for; exactly 1 % off still is
};

// What the chip makes of a group entry asked to play at rate: the entry keeps only the low 8
// bits of the divider, so the chip divides the clock by (divider & 0xFF) + 1. False (and *played
// untouched) when there is no divider for the rate.
bool ChipPlayedRate(int32_t clock, int32_t rate, PlayedRate* played);
