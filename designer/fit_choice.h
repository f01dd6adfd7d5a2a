#pragma once
// The choice of --fit: for every sound one of its ways to be stored (a codec at a rate the chip
// plays), so that all of them fit the room of the part and sound best: first the highest SNR of
// the worst sound, then the highest sum of SNRs. A multiple-choice knapsack, solved exactly:
//
// 1. The worst SNR: at a level T every sound takes its cheapest option of at least T, and those
//    bytes grow with T, so a binary search over the options' SNRs finds the highest level that
//    fits, in exact bytes.
// 2. The sum: over the options at or above that level, by dynamic programming over the room
//    left (fit_knapsack.h, which rounds bytes up to its unit so that the mix chosen fits).
//
// Its last line says what keeps the worst sound from being better: that it has no better option,
// or what its next better one (its cheapest above it) would cost with every sound at that level.
//
// The choice takes each option's snrDb as it stands: --fit gives an unmeasured option the most
// it could measure (fit_search.h) and asks again until every option chosen was measured.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One way to store a sound.
struct FitOption {
  int32_t kind = 0;        // KindAdpcm, KindPcm8, KindUlaw or KindPcm16
  int32_t linkRate = 0;    // what its links ask for (0: the sound keeps its rate, or has none)
  int32_t playedRate = 0;  // what the chip plays, and the rate its samples are stored at
  int64_t bytes = 0;
  double snrDb = 0;        // against the source, the band the rate cannot carry counted as noise
};

struct FitSound {
  std::string name;
  std::vector<FitOption> options;  // at least one
  FitOption before;                // the way the script stores it now
  bool judged = true;              // false: its bytes count, its quality is not chosen (a ramp)
  std::string kept;                // why a part of its choice is kept, for the table
};

struct FitChoice {
  bool fits = false;
  int64_t overBy = 0;           // when nothing fits: the bytes over at every sound's smallest
  std::vector<size_t> chosen;   // an option per sound
  int64_t bytes = 0;
  int64_t free = 0;
  double worstDb = 0;
  size_t worst = 0;             // the sound at the worst SNR
  double totalDb = 0;
  int64_t unit = 1;             // the bytes the sum's table counts in
  std::string limit;            // what kept the worst sound from being better
};

FitChoice ChooseFit(const std::vector<FitSound>& sounds, int64_t room);

// A sound's cheapest option at or above level, of those alike the best (then the first); a sound
// not judged has its one way. False when a judged sound reaches no such level.
bool CheapestOption(const FitSound& sound, double level, size_t* pick);

// "ADPCM at 16000 Hz", "PCM16 at 11025 Hz (plays 11130 Hz)".
std::string FitOptionText(const FitOption& option);
