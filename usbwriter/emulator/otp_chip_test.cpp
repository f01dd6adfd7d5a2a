#include "otp_chip.h"

#include <gtest/gtest.h>

#include "factory_system_area.h"
#include "system_area.h"

namespace qs71::emu {
namespace {

const ChipId kGoodId = {0x6D, 0x61, 0x02, 0x00};

TEST(OtpChip, ProgrammingOnlyClearsBits) {
  OtpChip chip(kGoodId, 0x40000);
  EXPECT_EQ(chip.Read(0x100), 0xFF);
  EXPECT_TRUE(chip.Program(0x100, 0xF0));
  EXPECT_EQ(chip.Read(0x100), 0xF0);
  EXPECT_TRUE(chip.Program(0x100, 0x3C));
  EXPECT_EQ(chip.Read(0x100), 0x30);
  EXPECT_TRUE(chip.Program(0x100, 0xFF));
  EXPECT_EQ(chip.Read(0x100), 0x30);
}

TEST(OtpChip, StuckBitsStaySet) {
  OtpChip chip(kGoodId, 0x40000);
  chip.SetStuckBits(0x20, 0x81);
  EXPECT_TRUE(chip.Program(0x20, 0x00));
  EXPECT_EQ(chip.Read(0x20), 0x81);
  EXPECT_TRUE(chip.Program(0x21, 0x00));
  EXPECT_EQ(chip.Read(0x21), 0x00);
}

TEST(OtpChip, SystemAreaIsReachedThroughTheTopOfTheAddressSpace) {
  const uint32_t sizes[] = {0x40000, 0x80000, 0x100000, 0x200000};
  for (uint32_t size : sizes) {
    OtpChip chip(kGoodId, size);
    chip.Preset(size - 512, 0x12);
    chip.Preset(size - 1, 0x34);
    EXPECT_EQ(chip.Read(0xFFFE00), 0x12) << size;
    EXPECT_EQ(chip.Read(0xFFFFFF), 0x34) << size;
    EXPECT_EQ(chip.Read(0x1FFFE00), 0x12) << "24-bit wrap, " << size;
    EXPECT_TRUE(chip.Program(0xFFFFFF, 0x30));
    EXPECT_EQ(chip.Cells()[size - 1], 0x30);
    EXPECT_FALSE(chip.Maps(size)) << size;
    EXPECT_EQ(chip.Read(size), 0xFF);
    EXPECT_FALSE(chip.Program(size, 0x00));
    EXPECT_FALSE(chip.Maps(0xFFFDFF));
  }
}

TEST(OtpChip, SizeCodesGiveTheArraySize) {
  EXPECT_EQ(ChipSizeForCode(0x02), 0x40000u);
  EXPECT_EQ(ChipSizeForCode(0x04), 0x80000u);
  EXPECT_EQ(ChipSizeForCode(0x08), 0x100000u);
  EXPECT_EQ(ChipSizeForCode(0x16), 0x200000u);
  EXPECT_EQ(ChipSizeForCode(0x10), 0x40000u);
  EXPECT_EQ(ChipSizeForCode(0x00), 0x40000u);
}

TEST(OtpChip, FreshChipIsBlankWithAGoodFactorySystemArea) {
  OtpChip chip(kGoodId, 0x80000);
  const std::vector<uint8_t>& cells = chip.Cells();
  for (uint32_t i = 0; i < 0x80000 - 512; ++i) ASSERT_EQ(cells[i], 0xFF) << i;
  std::vector<uint8_t> block(cells.end() - 512, cells.end());
  EXPECT_TRUE(qs71::CheckSystemArea(block));
  // What the library's blank check expects of a blank part: after masking, erased bytes
  // everywhere but the tag and the marker.
  qs71::MaskSystemArea(block);
  for (uint32_t k = 1; k <= 512; ++k) {
    const uint8_t expected = k == 66 ? 0x5A : k == 65 ? 0xA5 : k == 31 ? 0x5A : 0xFF;
    EXPECT_EQ(block[512 - k], expected) << "k=" << k;
  }
}

TEST(OtpChip, LoadReplacesTheArrayOnlyWhenTheSizeFits) {
  OtpChip chip(kGoodId, 0x40000);
  EXPECT_FALSE(chip.Load(std::vector<uint8_t>(0x40001, 0x00)));
  EXPECT_EQ(chip.Read(0), 0xFF);
  EXPECT_TRUE(chip.Load(std::vector<uint8_t>(0x40000, 0x00)));
  EXPECT_EQ(chip.Read(0), 0x00);
}

}  // namespace
}  // namespace qs71::emu
