#include "section_entry.h"

#include <gtest/gtest.h>

namespace {

TEST(SectionEntryTest, FlagsOptionAndAddress) {
  struct Case {
    int32_t base, flags, option, groups;
    uint32_t entry;
  };
  const Case cases[] = {
      {32, 0x85, 2, 2, 0x24FD},      {48, 0, -1, 1, 0x3778},
      {48, 0x87, 3, 0, 0xFFFFFFFF},  // flags but no links: empty
      {48, 0x02, 1, 1, 0x327A},      {44, 0, -1, 1, 0x2F78},  // the low three bits are lost
      {0xFFFFF8, 0, -1, 1, 0xFFFFFF78},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SectionEntry(c.base, c.flags, c.option, c.groups), c.entry) << std::hex << c.entry;
  }
}

TEST(SectionEntryTest, HoldsTableAddressesOfTheFirst16MiB) {
  EXPECT_FALSE(SectionEntryHolds(-1));
  EXPECT_TRUE(SectionEntryHolds(0));
  EXPECT_TRUE(SectionEntryHolds(0xFFFFFF));
  EXPECT_FALSE(SectionEntryHolds(0x1000000));
}

}  // namespace
