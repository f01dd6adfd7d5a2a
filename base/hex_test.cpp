#include "hex.h"

#include <gtest/gtest.h>

namespace {

TEST(Hex, ReadsEitherCaseAndRefusesTheRest) {
  const std::string digits = "09afAF";
  const int values[] = {0, 9, 10, 15, 10, 15};
  for (size_t i = 0; i < digits.size(); ++i) EXPECT_EQ(HexDigitValue(digits[i]), values[i]);
  for (char c : std::string("/:@G`g x")) EXPECT_EQ(HexDigitValue(c), -1) << c;
}

TEST(Hex, WritesTwoDigitsPerByte) {
  const uint8_t bytes[] = {0x6D, 0x61, 0x02, 0x00, 0xFF};
  EXPECT_EQ(HexBytes(bytes, sizeof bytes), "6d610200ff");
  EXPECT_EQ(HexBytes(bytes, sizeof bytes, HexCase::kUpper), "6D610200FF");
  EXPECT_EQ(HexBytes(bytes, 0), "");
}

}  // namespace
