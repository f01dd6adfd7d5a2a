#include "hardware_id.h"

#include <gtest/gtest.h>

namespace qs71 {
namespace {

const std::string kPattern = "Vid_04D8&Pid_FE08&rev_0101";

TEST(HardwareId, MatchesWithoutRegardToCase) {
  const struct {
    const char* id;
    bool matches;
  } cases[] = {
      {"HID\\VID_04D8&PID_FE08&REV_0101", true},
      {"hid\\vid_04d8&pid_fe08&rev_0101", true},
      {"HID\\Vid_04d8&Pid_Fe08&Rev_0101&Col01", true},
      {"HID\\VID_04D8&PID_FE08&REV_0102", false},
      {"HID\\VID_04D8&PID_FE09&REV_0101", false},
      {"HID\\VID_04D9&PID_FE08&REV_0101", false},
      {"HID\\VID_04D8&PID_FE08", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(HardwareIdMatches(c.id, kPattern), c.matches) << c.id;
}

TEST(HardwareId, OnlyTheFirstStringOfTheListCounts) {
  const char list[] = "HID\\VID_04D8&PID_FE08\0HID\\VID_04D8&PID_FE08&REV_0101\0";
  EXPECT_EQ(FirstHardwareId(list, sizeof list), "HID\\VID_04D8&PID_FE08");
  EXPECT_FALSE(HardwareIdMatches(FirstHardwareId(list, sizeof list), kPattern));
  const char good[] = "HID\\VID_04D8&PID_FE08&REV_0101\0HID\\VID_04D8&PID_FE08\0";
  EXPECT_TRUE(HardwareIdMatches(FirstHardwareId(good, sizeof good), kPattern));
}

TEST(HardwareId, ListWithoutTerminatorIsBoundedByItsLength) {
  const char list[] = {'A', 'B', 'C', 'D'};
  EXPECT_EQ(FirstHardwareId(list, 3), "ABC");
  EXPECT_EQ(FirstHardwareId(nullptr, 10), "");
}

TEST(HardwareId, BuiltFromNumbersAsWindowsShowsThem) {
  EXPECT_EQ(HardwareIdFor(0x04D8, 0xFE08, 0x0101), "HID\\VID_04D8&PID_FE08&REV_0101");
  EXPECT_TRUE(HardwareIdMatches(HardwareIdFor(0x04D8, 0xFE08, 0x0101), kPattern));
  EXPECT_FALSE(HardwareIdMatches(HardwareIdFor(0x04D8, 0xFE08, 0x0100), kPattern));
}

}  // namespace
}  // namespace qs71
