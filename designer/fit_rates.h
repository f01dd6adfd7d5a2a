#pragma once
// The rates --fit may give a sound: every rate the chip plays with the script's clock (the
// counting clock divided by 1 to 256 steps, format/playback_rate.h), none above the rate the
// sound was recorded at (a higher one adds bytes and no band) and none below kFitLowestRate,
// unless the recording itself is slower than that: such a sound may take any rate up to its own.
// The rule names no rate the script links, so the choice never depends on where it started.

#include <cstdint>
#include <vector>

inline constexpr int32_t kFitLowestRate = 4000;

struct FitRate {
  int32_t link;    // what NEW.qs asks for: a common recording rate when one plays here
  int32_t played;  // what the chip plays
};

// Ascending by the rate played; clock is the main clock divided by 32 (CompileState::MainClk).
std::vector<FitRate> FitRates(int32_t clock, int32_t sourceRate);
