#include "fit_choice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "sound_kinds.h"

namespace {

// Options as bytes and SNR; the codec and rate do not matter to the choice.
FitSound Sound(const char* name, std::vector<std::pair<int64_t, double>> options) {
  FitSound sound;
  sound.name = name;
  for (const auto& [bytes, snr] : options) sound.options.push_back({KindAdpcm, 8000, 8000, bytes, snr});
  sound.before = sound.options.front();
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
      {"the room left goes to the best total", 450, {1, 1}, 0},
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

// The greedy sum (most dB a byte first) that the fit used to take: with 100 bytes to spare, a's
// 10 dB for 10 bytes came first and left too little for b's 39 dB, 81 dB in all where 110 dB
// fits. c alone holds the worst sound at 10 dB.
TEST(FitChoice, TheSumIsNotGreedy) {
  const std::vector<FitSound> sounds = {Sound("c", {{100, 10}}), Sound("a", {{100, 21}, {110, 31}}),
                                        Sound("b", {{100, 40}, {200, 79}})};
  const FitChoice choice = ChooseFit(sounds, 400);
  ASSERT_TRUE(choice.fits);
  EXPECT_EQ(choice.chosen, (std::vector<size_t>{0, 0, 1}));
  EXPECT_DOUBLE_EQ(choice.worstDb, 10);
  EXPECT_DOUBLE_EQ(choice.totalDb, 110);
  EXPECT_EQ(choice.free, 0);
}

// Every mix tried: the best worst SNR, then the best sum, then the fewest bytes.
struct Best {
  bool fits = false;
  double worst = 0, total = 0;
  int64_t bytes = 0;
};

Best BruteForce(const std::vector<FitSound>& sounds, int64_t room) {
  Best best;
  std::vector<size_t> at(sounds.size(), 0);
  std::function<void(size_t)> walk = [&](size_t s) {
    if (s == sounds.size()) {
      int64_t bytes = 0;
      double worst = INFINITY, total = 0;
      for (size_t i = 0; i < sounds.size(); ++i) {
        const FitOption& o = sounds[i].options[at[i]];
        bytes += o.bytes;
        if (!sounds[i].judged) continue;
        worst = std::min(worst, o.snrDb);
        total += o.snrDb;
      }
      if (bytes > room) return;
      const bool better = !best.fits || worst > best.worst ||
                          (worst == best.worst && (total > best.total + 1e-9 ||
                                                   (std::abs(total - best.total) <= 1e-9 && bytes < best.bytes)));
      if (better) best = {true, worst, total, bytes};
      return;
    }
    for (at[s] = 0; at[s] < sounds[s].options.size(); ++at[s]) walk(s + 1);
  };
  walk(0);
  return best;
}

// Small random parts: up to 5 sounds of up to 6 options each, SNRs on a tenth of a dB (so that
// ties happen), one sound in five not judged, rooms from too small to everything.
std::vector<FitSound> RandomSounds(std::mt19937& random) {
  std::uniform_int_distribution<int> count(1, 5), options(1, 6), bytes(1, 400), tenths(0, 600), judged(0, 4);
  std::vector<FitSound> sounds(static_cast<size_t>(count(random)));
  for (size_t s = 0; s < sounds.size(); ++s) {
    sounds[s].name = "s" + std::to_string(s);
    const int n = judged(random) == 0 ? 1 : options(random);
    sounds[s].judged = n > 1 || judged(random) != 0;
    for (int o = 0; o < n; ++o) {
      sounds[s].options.push_back({KindAdpcm, 8000, 8000, bytes(random), tenths(random) / 10.0});
    }
    sounds[s].before = sounds[s].options.front();
  }
  return sounds;
}

TEST(FitChoice, MatchesEveryMixTried) {
  const uint32_t seeds[] = {1, 2, 3, 52, 1234, 20000, 777777, 4242424242u};
  for (uint32_t seed : seeds) {
    std::mt19937 random(seed);
    for (int round = 0; round < 400; ++round) {
      const std::vector<FitSound> sounds = RandomSounds(random);
      const int64_t room = std::uniform_int_distribution<int64_t>(0, 1600)(random);
      const FitChoice choice = ChooseFit(sounds, room);
      const Best best = BruteForce(sounds, room);
      SCOPED_TRACE(testing::Message() << "seed " << seed << ", round " << round << ", room " << room);
      ASSERT_EQ(choice.fits, best.fits);
      if (!best.fits) continue;
      EXPECT_LE(choice.bytes, room);
      EXPECT_EQ(choice.free, room - choice.bytes);
      EXPECT_EQ(choice.unit, 1);
      if (std::isfinite(best.worst)) {
        EXPECT_EQ(choice.worstDb, best.worst);
      }
      EXPECT_NEAR(choice.totalDb, best.total, 1e-9);
      EXPECT_EQ(choice.bytes, best.bytes);
    }
  }
}

// On a room larger than the table's cells the bytes are counted in units, rounded up: the mix
// chosen still fits, in bytes. One sound of a single poor option holds the worst level down, so
// that the whole room is left to the sum.
TEST(FitChoice, ARoomInUnitsStillFits) {
  std::vector<FitSound> sounds = {Sound("poor", {{1000, 5}})};
  for (int s = 0; s < 6; ++s) {
    std::vector<std::pair<int64_t, double>> options;
    for (int o = 1; o <= 40; ++o) options.push_back({o * 20011 + s * 7, 10 + o * 0.7 + s * 0.01});
    sounds.push_back(Sound(("s" + std::to_string(s)).c_str(), options));
  }
  for (int64_t room : {int64_t{2 * 1024 * 1024 - 777}, int64_t{1024 * 1024 + 5}, int64_t{300001}}) {
    const FitChoice choice = ChooseFit(sounds, room);
    ASSERT_TRUE(choice.fits) << room;
    EXPECT_GT(choice.unit, 1) << room;
    EXPECT_LE(choice.bytes, room) << room;
    EXPECT_EQ(choice.worstDb, 5) << room;
  }
}

}  // namespace
