#include "fit_choice.h"

#include <gtest/gtest.h>

#include "sound_kinds.h"

namespace {

// Options as bytes and SNR; the codec and rate do not matter to the choice.
FitSound Sound(const char* name, std::vector<std::pair<int64_t, double>> options) {
  FitSound sound;
  sound.name = name;
  for (const auto& [bytes, snr] : options) sound.options.push_back({KindAdpcm, 8000, 8000, bytes, snr});
  return sound;
}

struct ChoiceRow {
  const char* what;
  int64_t room;
  std::vector<size_t> chosen;  // empty: nothing fits
  int64_t overBy;
};

// a: 100 bytes at 10 dB or 300 at 40; b: 100 at 20 or 150 at 60 or 400 at 90.
TEST(FitChoice, WorstFirstThenTotal) {
  const std::vector<FitSound> sounds = {Sound("a", {{100, 10}, {300, 40}}), Sound("b", {{100, 20}, {150, 60}, {400, 90}})};
  const ChoiceRow rows[] = {
      {"nothing fits: over by the smallest choice's excess", 150, {}, 50},
      {"only the smallest fits", 240, {0, 0}, 0},
      // The most dB a byte would take b to 60 dB (+40 for 50 bytes): the worst sound, a, comes first.
      {"the worst sound is raised before the total", 400, {1, 0}, 0},
      {"the room left goes to the best dB a byte", 450, {1, 1}, 0},
      {"everything at its best", 700, {1, 2}, 0},
  };
  for (const ChoiceRow& row : rows) {
    const FitChoice choice = ChooseFit(sounds, row.room);
    EXPECT_EQ(choice.fits, !row.chosen.empty()) << row.what;
    if (choice.fits) {
      EXPECT_EQ(choice.chosen, row.chosen) << row.what;
    }
    EXPECT_EQ(choice.overBy, row.overBy) << row.what;
  }
}

}  // namespace
