#include "sound_pressure.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ParseSplSettings, LevelsAndLimits) {
  struct Row {
    const char* spl;
    const char* limit;
    const char* error;  // empty: taken
  } rows[] = {
      {"", "", ""},
      {"85", "80:110", ""},
      {"85.5", "80", ""},
      {"-3", "", "--spl -3 is out of range: give the toy's level in dB SPL for a full-scale 1 kHz sine, above 0 to 200"},
      {"loud", "", "--spl loud is not a number: give the toy's level in dB SPL for a full-scale 1 kHz sine, above 0 to 200"},
      {"250", "", "--spl 250 is out of range: give the toy's level in dB SPL for a full-scale 1 kHz sine, above 0 to 200"},
      {"85", "80:", "--spl-limit 80: is out of range: give LAEQ or LAEQ:LCPEAK in dB, each above 0 to 200"},
      {"85", "0:110", "--spl-limit 0:110 is out of range: give LAEQ or LAEQ:LCPEAK in dB, each above 0 to 200"},
      {"", "80", "--spl-limit needs --spl, the toy's level for a full-scale 1 kHz sine"},
      {"85", "110:80", "--spl-limit 110:80 gives a peak limit below the LAeq limit: give LAEQ first, then LCPEAK (the "
                       "standards' peak limits are the higher)"},
  };
  for (const Row& row : rows) {
    SplSettings settings;
    std::string error;
    EXPECT_EQ(ParseSplSettings(row.spl, row.limit, &settings, &error), *row.error == '\0') << row.spl << " " << row.limit;
    EXPECT_EQ(error, row.error);
  }
  SplSettings settings;
  std::string error;
  ASSERT_TRUE(ParseSplSettings("85", "80:110", &settings, &error));
  EXPECT_TRUE(settings.given && settings.laeqLimit && settings.lcpeakLimit);
  EXPECT_EQ(settings.referenceDb, 85.0);
  EXPECT_EQ(settings.lcpeakLimitDb, 110.0);
}

}  // namespace
