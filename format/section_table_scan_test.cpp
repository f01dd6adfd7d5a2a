// Section entries and the section table read back: every entry the generator can write
// decodes to the flags, option and address it was built from; patterns it never writes are
// refused with the place they were found.

#include "section_table_scan.h"

#include <gtest/gtest.h>

#include "format_test_support.h"

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
    SectionEntryFields fields;
    ASSERT_EQ(SectionEntryProblem(entry, &fields), "") << std::hex << entry;
    EXPECT_EQ(fields.flags, c.flags);
    EXPECT_EQ(fields.option, c.option);
    EXPECT_EQ(fields.tableAddress, static_cast<uint32_t>(c.base));
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
    SectionEntryFields fields;
    EXPECT_NE(SectionEntryProblem(c.entry, &fields).find(c.why), std::string::npos)
        << std::hex << c.entry;
  }
}

struct ScanCase {
  const char* name;
  int32_t entryPos;  // -1: the image as built
  uint32_t entry;
  const char* problem;  // empty: the scan reads
  int sections;
  int32_t groupStart;
};

// Sections 1 and 3 with one link each, maximum section 3: GroupStart 32.
const ScanCase kScans[] = {
    {"AsBuilt", -1, 0, "", 2, 32},
    {"SectionZeroDamaged", 4, 0x00000000, "section 0 at 0x000004: entry 00000000 lacks", 0, 16},
    {"SlotAfterASectionDamaged", 20, 0x00000000, "section 2 at 0x000014", 0, 16},
    {"TableNotAligned", 16, SectionEntry(0x18, 0, -1, 1), "0x000018 is not the multiple", 0, 16},
};

TEST(SectionTable, ReadsTheEntriesOrNamesTheFirstBadOne) {
  for (const ScanCase& c : kScans) {
    std::vector<uint8_t> image = imagetest::BlankImage(0x40000);
    imagetest::PutSections(image, {{1, {{0x03, 7, 0, 9}}}, {3, {{0x03, 7, 10, 19}}}}, 3);
    if (c.entryPos >= 0) imagetest::PutLe(image, c.entryPos, c.entry, 4);
    SectionTableScan scan;
    std::string problem;
    const bool reads =
        ScanSectionTable(ImageBytes(image), SystemAreaStart(0x40000), &scan, &problem);
    EXPECT_EQ(reads, std::string(c.problem).empty()) << c.name << ": " << problem;
    EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
    if (!reads) continue;
    EXPECT_EQ(static_cast<int>(scan.sections.size()), c.sections) << c.name;
    EXPECT_EQ(scan.groupStart, c.groupStart) << c.name;
  }
}

TEST(SectionTable, AnImageWithoutSectionsHasItsDataFrom16) {
  std::vector<uint8_t> image = imagetest::BlankImage(0x40000);
  image[16] = 0x03;  // a sound's first byte where the slots would be
  SectionTableScan scan;
  std::string problem;
  ASSERT_TRUE(ScanSectionTable(ImageBytes(image), SystemAreaStart(0x40000), &scan, &problem));
  EXPECT_TRUE(scan.noSections);
  EXPECT_EQ(scan.groupStart, 16);
}

}  // namespace
