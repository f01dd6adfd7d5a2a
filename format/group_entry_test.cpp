#include "group_entry.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The silence link of the worked example, GrpAdr 3: type, divider, first 0x38, last 0x57
// stored complemented.
TEST(GroupEntryTest, WorkedExampleBytes) {
  uint8_t bytes[kMaxGroupEntrySize] = {};
  EncodeGroupEntry({0x00, 0x3F, 0x38, 0x57}, 3, bytes);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + GroupEntrySize(3)),
            (std::vector<uint8_t>{0x00, 0x3F, 0x38, 0x00, 0x00, 0xA8, 0xFF, 0xFF}));
}

// Addresses come back cut to GrpAdr bytes, for every width.
TEST(GroupEntryTest, DecodesWhatItEncodesForEveryGrpAdr) {
  for (int32_t grpAdr = 1; grpAdr <= kMaxGrpAdr; ++grpAdr) {
    const uint32_t mask = grpAdr == 4 ? 0xFFFFFFFFu : (1u << (8 * grpAdr)) - 1;
    uint8_t bytes[kMaxGroupEntrySize] = {};
    EncodeGroupEntry({0xC3, 7, 0x12345678, 0x9ABCDEF0}, grpAdr, bytes);
    const GroupEntry back = DecodeGroupEntry(bytes, grpAdr);
    EXPECT_EQ(back.typeByte, 0xC3) << grpAdr;
    EXPECT_EQ(back.divider, 7) << grpAdr;
    EXPECT_EQ(back.first, 0x12345678u & mask) << grpAdr;
    EXPECT_EQ(back.last, 0x9ABCDEF0u & mask) << grpAdr;
  }
}

TEST(GroupEntryTest, TypeByteNamesAKindOnlyWithItsZeroBitsClear) {
  EXPECT_EQ(GroupEntryKind(0x88)->kind, KindMute);
  EXPECT_EQ(GroupEntryKind(0x43)->kind, KindPcm16);
  EXPECT_EQ(GroupEntryKind(0x13), nullptr);
  EXPECT_EQ(GroupEntryKind(0x06), nullptr);
}

}  // namespace
