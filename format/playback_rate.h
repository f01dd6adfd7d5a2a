#pragma once
// The rate the chip plays a sound at. The chip counts its main clock divided by 32 (a script's
// $MAINCLK is stored so, truncated) and plays a sample every divider + 1 counts, the divider
// being the byte of the group entry that links the sound. Every rate shown or written for a
// sound comes from here, so that the generator's notes, its page, the inspector's report and
// the extracted WAV files name the same rate for the same image and clock.

#include <cstdint>

// The main clock a script gets when it does not set $MAINCLK: 512000 counts a second.
constexpr int64_t kDefaultMainClockHz = 16384000;

// The counts a second of a main clock in Hz, as the image was compiled for it.
int64_t ChipCountingClock(int64_t mainClockHz);

// Samples a second at a counting clock and steps counts a sample, to the nearest hertz.
int64_t ChipRateHz(int64_t countingClock, int64_t steps);

// The rate of a link's divider byte with a main clock in Hz: exact, for durations...
double LinkRate(int64_t mainClockHz, uint8_t divider);

// ... and to the nearest hertz, at least 1, for a WAV file's header.
uint32_t LinkRateHz(int64_t mainClockHz, uint8_t divider);
