#include "playback_rate.h"

namespace {

constexpr int64_t kClockPrescale = 32;

}  // namespace

int64_t ChipCountingClock(int64_t mainClockHz) { return mainClockHz / kClockPrescale; }

int64_t ChipRateHz(int64_t countingClock, int64_t steps) { return (countingClock + steps / 2) / steps; }

double LinkRate(int64_t mainClockHz, uint8_t divider) {
  return static_cast<double>(ChipCountingClock(mainClockHz)) / (divider + 1.0);
}

uint32_t LinkRateHz(int64_t mainClockHz, uint8_t divider) {
  const int64_t hz = ChipRateHz(ChipCountingClock(mainClockHz), int64_t{divider} + 1);
  // A WAV file of 0 Hz plays nowhere; a clock of less than 32 Hz has no whole hertz.
  return static_cast<uint32_t>(hz < 1 ? 1 : (hz > UINT32_MAX ? UINT32_MAX : hz));
}
