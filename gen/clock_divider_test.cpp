#include "clock_divider.h"

#include <gtest/gtest.h>

namespace {

TEST(ClockDividerTest, RatesAgainstDefaultClock) {
  struct Case {
    int32_t rate, divider;
  };
  const Case cases[] = {{64000, 7}, {8000, 63}, {16000, 31}, {1000, 511}, {-8000, -64}};
  for (const Case& c : cases) {
    int32_t d = 0;
    EXPECT_TRUE(ClockDivider(512000, c.rate, &d));
    EXPECT_EQ(d, c.divider) << c.rate;
  }
  int32_t d = 123;
  EXPECT_FALSE(ClockDivider(512000, 0, &d));
  EXPECT_EQ(d, 123);
}

TEST(ChipPlayedRateTest, OnePercentRule) {
  struct Case {
    int32_t clock, rate, hz;
    bool within;
  };
  const Case cases[] = {
      {512000, 16000, 16000, true},
      {512000, 22050, 22261, true},   // 0.95 % fast
      {512000, 44100, 42667, false},  // 3.3 % slow
      {512000, 1000, 2000, false},    // divider 511: the entry keeps 255
      {512000, -8000, 2653, false},   // divider -64: the entry keeps 192
      {10100, 10000, 10100, true},    // exactly 1 % fast
      {10101, 10000, 10101, false},
      {9900, 10000, 9900, true},      // exactly 1 % slow
      {9899, 10000, 9899, false},
  };
  for (const Case& c : cases) {
    PlayedRate played{};
    ASSERT_TRUE(ChipPlayedRate(c.clock, c.rate, &played)) << c.rate;
    EXPECT_EQ(played.hz, c.hz) << c.clock << " / " << c.rate;
    EXPECT_EQ(played.withinOnePercent, c.within) << c.clock << " / " << c.rate;
  }
  PlayedRate untouched{123, true};
  EXPECT_FALSE(ChipPlayedRate(512000, 0, &untouched));
  EXPECT_EQ(untouched.hz, 123);
}

// What --rates shows: the played rate and the rates one divider step either side, none past
// the 8 bits of the divider or below one step.
TEST(NearestPlayableRatesTest, NeighboursWithinTheDivider) {
  struct Case {
    int32_t rate, steps, hz, slower, faster;
  };
  const Case cases[] = {
      {22050, 23, 22261, 21333, 23273}, {8000, 64, 8000, 7877, 8127},
      {512000, 1, 512000, 256000, 0},   {2000, 256, 2000, 0, 2008},
  };
  for (const Case& c : cases) {
    PlayableRates near{};
    ASSERT_TRUE(NearestPlayableRates(512000, c.rate, &near)) << c.rate;
    EXPECT_EQ(near.steps, c.steps) << c.rate;
    EXPECT_EQ(near.played.hz, c.hz) << c.rate;
    EXPECT_EQ(near.slower, c.slower) << c.rate;
    EXPECT_EQ(near.faster, c.faster) << c.rate;
  }
  PlayableRates near{};
  EXPECT_FALSE(NearestPlayableRates(512000, 0, &near));
  EXPECT_FALSE(NearestPlayableRates(512000, -8000, &near));
}

}  // namespace
