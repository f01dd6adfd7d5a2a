// Section entries read back bit by bit: every entry the generator can write decodes to the
// flags, option and address it was built from; patterns it never writes are refused.

#include "section_scan.h"

#include <gtest/gtest.h>

#include "section_entry.h"

namespace {

struct EntryCase {
  int32_t base;
  int32_t flags;
  int32_t option;
};

// Flags in every combination the four section statements give, every option, addresses
// up to the 24 bits the entry keeps.
const EntryCase kEntries[] = {
    {0x20, 0x00, -1},     {0x20, 0x87, 1},     {0x38, 0x05, 2}, {0x1000, 0x80, 3},
    {0xFFFFF8, 0x02, -1}, {0x123450, 0x01, 2}, {0x40, 0x84, 1},
};

TEST(SectionEntry, EveryEntryTheGeneratorWritesDecodesBack) {
  for (const EntryCase& c : kEntries) {
    const uint32_t entry = SectionEntry(c.base, c.flags, c.option, 2);
    Section s;
    std::string why;
    ASSERT_TRUE(DecodeSectionEntry(entry, &s, &why)) << std::hex << entry << " " << why;
    EXPECT_FALSE(s.empty);
    EXPECT_EQ(s.flags, c.flags);
    EXPECT_EQ(s.option, c.option);
    EXPECT_EQ(s.tableAddress, static_cast<uint32_t>(c.base));
  }
}

struct BadEntry {
  uint32_t entry;
  const char* why;
};

const BadEntry kBadEntries[] = {
    {0x00002700, "lacks the bits 3 to 6"}, {0x00002770, "lacks the bits 3 to 6"},
    {0x00002078, "option pattern"},  // bit 8 clear, option 0
    {0x00002378, "option pattern"},  // bit 8 set, option bits 01
    {0x00002578, "option pattern"},  // bit 8 set, option bits 10
};

TEST(SectionEntry, PatternsNoSectionHasAreRefused) {
  for (const BadEntry& c : kBadEntries) {
    Section s;
    std::string why;
    EXPECT_FALSE(DecodeSectionEntry(c.entry, &s, &why)) << std::hex << c.entry;
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
  }
}

TEST(SectionEntry, AllOnesIsAnEmptySection) {
  Section s;
  std::string why;
  EXPECT_TRUE(DecodeSectionEntry(0xFFFFFFFFu, &s, &why));
  EXPECT_TRUE(s.empty);
}

}  // namespace
