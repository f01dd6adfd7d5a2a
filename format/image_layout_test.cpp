#include "image_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ImagePositionsTest, DerivedFromFileSize) {
  struct Case {
    int32_t fileSize, systemArea, adpcm, optionBase, tag, optionStart, volMap;
  };
  const Case cases[] = {
      {0x10000, 0xFE00, 0xFF00, 0xFFC0, 0xFFBE, 0xFFE0, 0xFFF0},
      {0x10002, 0xFE02, 0xFF02, 0xFFC0, 0xFFBE, 0xFFE0, 0xFFF0},
      {0x1000D, 0xFE0D, 0xFF0D, 0xFFC0, 0xFFBE, 0xFFE0, 0xFFF0},
      {0x1000F, 0xFE0F, 0xFF0F, 0xFFD0, 0xFFCE, 0xFFF0, 0x10000},
      {512, 0, 256, 0x1C0, 0x1BE, 0x1E0, 0x1F0},
      {0, -512, -256, -64, -66, -32, -16},  // refused by AddVolMap, but defined
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SystemAreaStart(c.fileSize), c.systemArea) << std::hex << c.fileSize;
    EXPECT_EQ(AdpcmStart(c.fileSize), c.adpcm) << std::hex << c.fileSize;
    EXPECT_EQ(OptionBase(c.fileSize), c.optionBase) << std::hex << c.fileSize;
    EXPECT_EQ(TagPos(c.fileSize), c.tag) << std::hex << c.fileSize;
    EXPECT_EQ(OptionStart(c.fileSize), c.optionStart) << std::hex << c.fileSize;
    EXPECT_EQ(VolMapPos(c.fileSize), c.volMap) << std::hex << c.fileSize;
  }
}

TEST(ImagePositionsTest, SectionEntriesAndGroupStart) {
  EXPECT_EQ(SectionEntryPos(0), 4);
  EXPECT_EQ(SectionEntryPos(1), 16);
  EXPECT_EQ(SectionEntryPos(2), 20);
  EXPECT_EQ(SectionEntryPos(1023), 4104);
  const int32_t groupStart[][2] = {{0, 16}, {1, 32}, {4, 32}, {5, 48}, {1023, 4112}};
  for (const auto& g : groupStart) EXPECT_EQ(GroupStart(g[0]), g[1]) << g[0];
}

// A ramp word keeps 24 bits of position; the all-ones position is the chip's "no ramp".
TEST(HeaderWordTest, PositionAboveDivider) {
  EXPECT_EQ(EncodeHeaderWord(0x38, 7), 0x3807u);
  EXPECT_EQ(EncodeHeaderWord(kNoRampPosition, 7), 0xFFFFFF07u);
  EXPECT_EQ(EncodeHeaderWord(0x38, -64), 0x38C0u);
  EXPECT_TRUE(HeaderWordHoldsRamp(0x3807u));
  EXPECT_FALSE(HeaderWordHoldsRamp(0xFFFFFF3Fu));
}

}  // namespace
