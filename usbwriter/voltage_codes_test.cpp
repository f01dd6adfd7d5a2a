#include "voltage_codes.h"

#include <gtest/gtest.h>

namespace qs71 {
namespace {

TEST(VoltageCodes, ConstantsAreTheFirmwaresSinglePrecisionValues) {
  EXPECT_EQ(static_cast<double>(kVoltsPerCount), 0.0032226562034338713);
  EXPECT_EQ(static_cast<double>(kReadingRounding), 0.004999999888241291);
  EXPECT_EQ(static_cast<double>(kTrimConstant), 156.84500122070312);
  EXPECT_EQ(static_cast<double>(3.3f), 3.299999952316284);
}

struct CodeCase {
  double volts;
  uint16_t code;
};

TEST(VoltageCodes, VoltsToCodeIsLimitedToTenBits) {
  const CodeCase cases[] = {
      {3.3, 341},   {static_cast<double>(3.3f), 341}, {6.5, 672}, {12.0, 1023}, {0.0, 0},
      {-1.0, 0},    {-0.0001, 0}, {9.9, 1023},       {1.0, 103}, {0.0048, 0},  {0.005, 1},
  };
  for (const CodeCase& c : cases) EXPECT_EQ(VoltsToCode(c.volts), c.code) << c.volts << " V";
}

TEST(VoltageCodes, RawCodeKeepsTheLowSixteenBitsWithoutALimit) {
  const CodeCase cases[] = {
      {3.3, 341}, {12.0, 1241}, {0.0, 0},
      // -1 V: -103.4 + 0.5 truncates to -102, sent as its two's complement.
      {-1.0, 0xFF9A},
      // 700 V: 72404 counts, of which the low 16 bits go out.
      {700.0, 72404 - 65536},
  };
  for (const CodeCase& c : cases) EXPECT_EQ(VoltsToRawCode(c.volts), c.code) << c.volts << " V";
}

TEST(VoltageCodes, CodeToVoltsGivesTheWorkedReadings) {
  EXPECT_NEAR(CodeToVolts(341), 3.3018, 5e-5);
  EXPECT_NEAR(CodeToVolts(1023), 9.8953, 5e-5);
  EXPECT_NEAR(CodeToVolts(0), 0.005, 1e-9);
  // The rounding term is the float 0.005, not the double.
  EXPECT_EQ(CodeToVolts(0), 0.004999999888241291);
}

struct TrimCase {
  double volts;
  uint8_t trim;
};

TEST(VoltageCodes, VoltsToTrimGivesTheRegulatorStep) {
  const TrimCase cases[] = {
      {3.0, 75}, {3.3, 79}, {5.0, 96}, {5.5, 98}, {0.0, 0},   {1.0, 0},
      {-1.0, 127}, {-0.5, 127}, {1e9, 127}, {2.0, 49}, {1.25, 2},
  };
  for (const TrimCase& c : cases) EXPECT_EQ(VoltsToTrim(c.volts), c.trim) << c.volts << " V";
}

}  // namespace
}  // namespace qs71
