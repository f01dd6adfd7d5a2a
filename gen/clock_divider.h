#pragma once
// The chip divides its main clock (kept divided by 32) by this value plus one to play at a
// rate: ((clock + rate / 2) / rate) - 1, in signed 32-bit integer arithmetic.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

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

// The rates recordings come in; --rates shows what the chip makes of each.
inline constexpr std::array<int32_t, 7> kCommonRates = {8000, 11025, 16000, 22050, 32000, 44100, 48000};

// A rate asked for and what the chip can play near it: the clock divided by steps, and the
// rates one step slower and one step faster (0 where the divider has no such step).
struct PlayableRates {
  int32_t asked;
  int32_t steps;
  PlayedRate played;
  int32_t slower;
  int32_t faster;
};

bool NearestPlayableRates(int32_t clock, int32_t rate, PlayableRates* out);

// qs71gen --rates: a table of the rates asked (the common ones when none is given) and the
// rates the chip plays for them with the main clock (divided by 32) at clock.
std::string PlayableRatesText(int32_t clock, const std::vector<int32_t>& rates);
