#include "fit_rates.h"

#include <gtest/gtest.h>

namespace {

struct RatesRow {
  const char* what;
  int32_t clock;
  int32_t source;
  size_t count;
  FitRate lowest, highest;
};

// The default clock counts 512000 a second: every rate it plays is 512000 divided by 1 to 256.
TEST(FitRates, EveryRateTheChipPlaysFromTheFloorToTheSource) {
  const RatesRow rows[] = {
      {"48 kHz: 512000/128 up to 512000/11, which a link at 48000 plays", 512000, 48000, 118, {4000, 4000},
       {48000, 46545}},
      {"44.1 kHz: up to 512000/12, named as a link asks for it", 512000, 44100, 117, {4000, 4000}, {44100, 42667}},
      {"22050 Hz: 22261 would play faster than the take", 512000, 22050, 105, {4000, 4000}, {21333, 21333}},
      {"a rate the chip plays exactly is the top", 512000, 16000, 97, {4000, 4000}, {16000, 16000}},
      {"a take slower than the floor may go down to the slowest divider", 512000, 3000, 86, {2000, 2000}, {2994, 2994}},
      {"another clock: 8000 plays 7979 there", 375000, 8000, 47, {4032, 4032}, {8000, 7979}},
      {"no rate at all", 512000, 1000, 0, {0, 0}, {0, 0}},
  };
  for (const RatesRow& row : rows) {
    const std::vector<FitRate> rates = FitRates(row.clock, row.source);
    ASSERT_EQ(rates.size(), row.count) << row.what;
    if (rates.empty()) continue;
    EXPECT_EQ(rates.front().link, row.lowest.link) << row.what;
    EXPECT_EQ(rates.front().played, row.lowest.played) << row.what;
    EXPECT_EQ(rates.back().link, row.highest.link) << row.what;
    EXPECT_EQ(rates.back().played, row.highest.played) << row.what;
    for (size_t i = 1; i < rates.size(); ++i) EXPECT_LT(rates[i - 1].played, rates[i].played) << row.what;
  }
}

// A common recording rate names the rate it plays: 11025 for 11130, 22050 for 22261.
TEST(FitRates, CommonRatesNameTheirLinks) {
  const std::vector<FitRate> rates = FitRates(512000, 48000);
  auto link = [&](int32_t played) {
    for (const FitRate& r : rates) {
      if (r.played == played) return r.link;
    }
    return 0;
  };
  EXPECT_EQ(link(11130), 11025);
  EXPECT_EQ(link(22261), 22050);
  EXPECT_EQ(link(8000), 8000);
  EXPECT_EQ(link(21333), 21333);
}

}  // namespace
