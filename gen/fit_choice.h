#pragma once
// The choice of --fit: for every sound one of its ways to be stored (a codec at a rate the chip
// plays), so that all of them fit the room of the part and sound best: first the highest SNR of
// the worst sound, then the highest sum of SNRs. A multiple-choice knapsack, solved in two steps:
//
// 1. The worst SNR: each sound's options are cut to those no cheaper option beats; at a level T
//    every sound takes its cheapest option of at least T, and the bytes grow with T, so a binary
//    search over the options' SNRs finds the highest level that fits.
// 2. The sum: from those cheapest options, the upgrade (a better option of one sound, still at
//    or above the level) with the most dB a byte among those that still fit is taken, again and
//    again until none fits. Greedy, not exact: it can miss the optimum by about one upgrade.
//
// With n sounds of k options each the first step costs n k log(n k) and the second at most n k
// upgrades of n k each: a few dozen sounds of some twenty options take well under a millisecond.

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
  std::vector<FitOption> options;  // at least one: the way the script stores it now
  size_t current = 0;              // that one's index
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
  std::string limit;            // what kept the worst sound from being better
};

FitChoice ChooseFit(const std::vector<FitSound>& sounds, int64_t room);

// "ADPCM at 16000 Hz", "PCM16 at 11025 Hz (plays 11130 Hz)".
std::string FitOptionText(const FitOption& option);
