#pragma once
// A mains hum in a sound: the lines at 50 or 60 Hz and at their second and third harmonics that
// a take picks up from the mains, measured in what the chip plays, and the high-pass that
// would take them out.
//
// A line is told from the sound around it by its narrowness: the sound is brought down to
// about 1 kHz by averaging (a hum lies below 200 Hz), cut into blocks of 2 s (0.5 Hz apart), and
// each block's power at the line, Hann-windowed, is taken less the mean power 1.5 and 2 Hz to
// either side. A voice whose pitch passes 100 Hz, or a bass note near 50 Hz, spreads over those
// neighbours and counts for next to nothing; a steady hum stands out by all of its power.

#include <cstdint>
#include <vector>

constexpr int kHumLines = 3;  // the mains frequency and its second and third harmonics

struct MainsHum {
  int mainsHz = 0;                  // 50 or 60, the stronger; 0: the sound is too short to tell
  double lineDb[kHumLines] = {};    // each line's power under the sound's, in dB (+inf: none)
  double belowRmsDb = 0;            // the lines together under the sound's RMS, in dB
};

// Measures samples on the 16-bit scale, played at rateHz. A sound shorter than half a second
// gives mainsHz 0.
MainsHum MeasureMainsHum(const std::vector<int32_t>& samples, double rateHz);

// The high-pass a sound was prepared with, at the rate of its source, which it runs at.
struct HumHighpass {
  double hz = 0;  // 0: none
  int order = 0;
  double rateHz = 0;
};

// The lowest cut-off of a high-pass of order (Hz, a whole multiple of 10) that, in place of the
// one the sound had, takes the mains line, and each harmonic within heardDb of the sound's RMS,
// to targetDb under the rest of the sound; 0 when that needs a cut-off above 4000 Hz or half the
// rate. A harmonic further down is left: it may as well be the voice's own partial, which a
// high-pass that high would take with it.
int HumRemovingCutoff(const MainsHum& hum, const HumHighpass& had, int order, double targetDb, double heardDb);
