#include "system_area.h"

#include <gtest/gtest.h>

namespace qs71 {
namespace {

uint8_t& At(std::vector<uint8_t>& block, uint32_t distance) { return block[512 - distance]; }

// A minimal good block, written out by hand: every first-stage value at the edge of its rule,
// option byte 78 clear so that the second stage does not apply.
std::vector<uint8_t> GoodBlock() {
  std::vector<uint8_t> block(512, 0xFF);
  At(block, 78) = 0x00;
  At(block, 66) = 0x5A;
  At(block, 65) = 0xA5;
  At(block, 63) = 0x01;
  At(block, 62) = 0xE0;
  At(block, 56) = 0xE0;
  At(block, 55) = 0xFF;
  At(block, 54) = 0x01;
  At(block, 53) = 0xC1;
  At(block, 52) = 0xFE;
  At(block, 50) = 0xE0;
  At(block, 44) = 0x01;
  At(block, 42) = 0xFE;
  At(block, 31) = 0x00;
  return block;
}

TEST(SystemArea, TheHandWrittenGoodBlockPasses) {
  EXPECT_TRUE(CheckSystemArea(GoodBlock()));
}

struct RuleCase {
  uint32_t distance;
  uint8_t value;
  bool valid;
};

TEST(SystemArea, FirstStageRules) {
  const RuleCase cases[] = {
      {66, 0x5B, false}, {66, 0xA5, false}, {65, 0x5A, false}, {65, 0xA4, false},
      {63, 0x00, false}, {63, 0xFF, true},  {63, 0x80, true},
      {62, 0xDF, false}, {62, 0xC0, false}, {62, 0xFF, true},  {62, 0xE4, true},
      {56, 0xE4, false}, {56, 0xFF, false}, {56, 0xFB, true},  {56, 0x60, false},
      {55, 0xFE, false}, {55, 0x00, false},
      {54, 0xFF, false}, {54, 0x00, false}, {54, 0x80, true},
      {53, 0xCF, false}, {53, 0xC0, false}, {53, 0xBF, false}, {53, 0x81, false},
      {53, 0xFE, true},  {53, 0xCE, true},
      {52, 0xFF, false}, {52, 0x00, false}, {52, 0x7F, true},
      {50, 0xD0, false}, {50, 0xFF, true},
      {44, 0xFF, false}, {44, 0x00, false}, {44, 0x10, true},
      {42, 0xFF, false}, {42, 0x00, false}, {42, 0x10, true},
      {31, 0xFF, false}, {31, 0x5B, false}, {31, 0x01, false}, {31, 0x5A, true},
      // Bytes without a rule.
      {45, 0x00, true},  {64, 0x00, true},  {51, 0x00, true},  {37, 0x12, true},
  };
  for (const RuleCase& c : cases) {
    std::vector<uint8_t> block = GoodBlock();
    At(block, c.distance) = c.value;
    EXPECT_EQ(CheckSystemArea(block), c.valid)
        << "k=" << c.distance << " b=0x" << std::hex << int{c.value};
  }
}

TEST(SystemArea, SecondStageAppliesOnlyWithAllOptionBitsSet) {
  const uint32_t secondStage[] = {51, 50, 49, 48, 47, 46, 40, 39, 38, 37};
  const uint8_t triggers[] = {0x7C, 0xFF, 0x7D};
  const uint8_t quiet[] = {0x00, 0x7B, 0x3C, 0xEF};
  for (uint32_t distance : secondStage) {
    for (uint8_t trigger : triggers) {
      std::vector<uint8_t> block = GoodBlock();
      At(block, 78) = trigger;
      EXPECT_FALSE(CheckSystemArea(block)) << "byte 50 is 0xE0 in the good block";
      At(block, 50) = 0xFF;
      EXPECT_TRUE(CheckSystemArea(block)) << "all second-stage bytes 0xFF";
      At(block, distance) = 0xEF;
      EXPECT_FALSE(CheckSystemArea(block)) << "k=" << distance;
    }
    for (uint8_t trigger : quiet) {
      std::vector<uint8_t> block = GoodBlock();
      At(block, 78) = trigger;
      At(block, distance) = distance == 50 ? 0xEF : 0x00;
      EXPECT_TRUE(CheckSystemArea(block)) << "k=" << distance;
    }
  }
}

TEST(SystemArea, BlocksOfAnotherSizeAreInvalid) {
  std::vector<uint8_t> block = GoodBlock();
  block.push_back(0xFF);
  EXPECT_FALSE(CheckSystemArea(block));
  EXPECT_FALSE(CheckSystemArea(std::vector<uint8_t>()));
}

struct MaskCase {
  uint32_t distance;
  uint8_t before;
  uint8_t after;
};

TEST(SystemArea, MaskRewritesTrimsAndTheMarker) {
  const MaskCase cases[] = {
      {63, 0x12, 0xFF}, {62, 0xE0, 0xE4}, {61, 0x00, 0xFF}, {60, 0x34, 0xFF}, {59, 0x30, 0x3F},
      {58, 0x00, 0xFF}, {57, 0x56, 0xFF}, {56, 0xE0, 0xE4}, {55, 0x00, 0xFF}, {54, 0x01, 0xFF},
      {53, 0xC1, 0xCF}, {52, 0x01, 0xFF}, {51, 0x00, 0xFF}, {50, 0x00, 0x04}, {49, 0x00, 0xFF},
      {48, 0x00, 0xFF}, {47, 0xA0, 0xAF}, {46, 0x00, 0xFF}, {44, 0x01, 0xFF}, {43, 0x50, 0x5F},
      {42, 0x01, 0xFF}, {41, 0x00, 0x0F}, {40, 0x00, 0xFF}, {39, 0x90, 0x9F}, {38, 0x00, 0xFF},
      {37, 0x11, 0x1F}, {31, 0x00, 0x5A}, {31, 0xFF, 0x5A},
      // Untouched: the tag, byte 45, option byte 78 and the rest of the area.
      {66, 0x12, 0x12}, {65, 0x34, 0x34}, {45, 0x00, 0x00}, {78, 0x00, 0x00}, {64, 0x00, 0x00},
      {36, 0x00, 0x00}, {30, 0x00, 0x00}, {1, 0x00, 0x00},  {512, 0x00, 0x00},
  };
  for (const MaskCase& c : cases) {
    std::vector<uint8_t> block(512, 0xA5);
    At(block, c.distance) = c.before;
    MaskSystemArea(block);
    EXPECT_EQ(At(block, c.distance), c.after) << "k=" << c.distance;
  }
}

TEST(SystemArea, MaskTouchesExactlyTheMaskedBytes) {
  std::vector<uint8_t> block(512, 0x00);
  MaskSystemArea(block);
  int changed = 0;
  for (uint8_t b : block) changed += b != 0x00;
  EXPECT_EQ(changed, 27);
}

// An image's system area as the generator leaves it: all blank but the tag, with option byte
// 78 blank too, so that the second stage applies.
std::vector<uint8_t> GeneratorBlock(uint8_t option78) {
  std::vector<uint8_t> block(512, 0xFF);
  At(block, 66) = 0x5A;
  At(block, 65) = 0xA5;
  At(block, 78) = option78;
  return block;
}

struct MisfitCase {
  uint32_t distance;  // 0: the block as the generator leaves it
  uint8_t value;
  uint8_t option78;
  uint32_t misfit;
};

TEST(SystemArea, AnImageFitsWhenSomeGoodPartMasksToIt) {
  const MisfitCase cases[] = {
      {0, 0x00, 0xFF, 0},  {0, 0x00, 0x00, 0},
      {66, 0x00, 0xFF, 66},  // the tag is compared as it is
      {65, 0xA4, 0x00, 65},
      // Fully masked places: a part's own value replaces whatever the image holds.
      {54, 0x00, 0xFF, 0}, {51, 0x00, 0xFF, 0}, {31, 0x00, 0xFF, 0}, {31, 0xFF, 0x00, 0},
      // Partly masked: the unmasked bits must be ones a good part can have.
      {56, 0xFF, 0x00, 0}, {56, 0x1B, 0x00, 56}, {62, 0xC4, 0x00, 62}, {53, 0x3F, 0x00, 53},
      {53, 0xC0, 0x00, 0},
      // The second stage wants 0xFF at 50, 47, 39 and 37, of which the mask hides a few bits.
      {50, 0xFB, 0xFF, 0}, {50, 0xEF, 0xFF, 50}, {50, 0xEF, 0x00, 0}, {47, 0xA0, 0xFF, 47},
      {47, 0xA0, 0x7B, 0}, {37, 0xF0, 0xFF, 0}, {39, 0x7F, 0xFC, 39},
      // No rule: anything.
      {45, 0x00, 0xFF, 0}, {64, 0x00, 0xFF, 0},
  };
  for (const MisfitCase& c : cases) {
    std::vector<uint8_t> block = GeneratorBlock(c.option78);
    if (c.distance != 0) At(block, c.distance) = c.value;
    EXPECT_EQ(SystemAreaMisfit(block), c.misfit)
        << "k=" << c.distance << " b=0x" << std::hex << int{c.value} << " option 0x"
        << int{c.option78};
  }
}

TEST(SystemArea, TheFirstMisfitInAddressOrderIsNamed) {
  std::vector<uint8_t> block = GeneratorBlock(0xFF);
  At(block, 47) = 0x00;
  At(block, 56) = 0x00;
  EXPECT_EQ(SystemAreaMisfit(block), 56u);
  EXPECT_EQ(SystemAreaMisfit(std::vector<uint8_t>(511, 0xFF)), 512u);
}

// What the verify does with a part: a good part masked and the image masked must be equal.
// The hand-written good block, taken as an image, fits, as every block read from a part does.
TEST(SystemArea, EveryGoodPartFitsAsAnImage) {
  EXPECT_EQ(SystemAreaMisfit(GoodBlock()), 0u);
  std::vector<uint8_t> block = GoodBlock();
  At(block, 78) = 0xFF;
  At(block, 50) = 0xFF;
  ASSERT_TRUE(CheckSystemArea(block));
  EXPECT_EQ(SystemAreaMisfit(block), 0u);
}

struct FactoryCase {
  uint32_t distance;  // 0: the block as the generator leaves it
  uint8_t value;
  uint32_t clash;
};

// A 0 written where the mask forces a bit clears the part's own trim for good, and one written
// over a bit every good part holds (tags, enables, the erased second-stage trims) or over part
// of the marker leaves a part that fails its own check; every other place takes any value.
TEST(SystemArea, AFactoryBitClearedByTheImageIsNamed) {
  const FactoryCase cases[] = {
      {0, 0x00, 0},    {63, 0x00, 63},  {63, 0xFE, 63}, {62, 0xFB, 62}, {62, 0xE4, 0},
      {62, 0x7F, 62},  {59, 0xF7, 59},  {59, 0x0F, 0},  {37, 0xF0, 37}, {31, 0x00, 0},
      {31, 0xA5, 0},   {31, 0x12, 31},  {45, 0x00, 0},  {66, 0x00, 66}, {66, 0x5A, 0},
      {65, 0xA4, 65},  {50, 0xFB, 50},  {47, 0x0F, 47}, {78, 0x00, 0},  {64, 0x00, 0},
  };
  for (const FactoryCase& c : cases) {
    std::vector<uint8_t> block = GeneratorBlock(0xFF);
    if (c.distance != 0) At(block, c.distance) = c.value;
    EXPECT_EQ(FactoryCellClash(block), c.clash)
        << "k=" << c.distance << " b=0x" << std::hex << int{c.value};
  }
  std::vector<uint8_t> block = GeneratorBlock(0xFF);
  At(block, 41) = 0x00;
  At(block, 54) = 0x00;
  EXPECT_EQ(FactoryCellClash(block), 54u);
  EXPECT_EQ(SpoiledByteName(31, 0x12, true), "the marker (00 or 5A only)");
  EXPECT_EQ(SpoiledByteName(62, 0x7F, true), "the bits E4 that every good part holds");
  EXPECT_EQ(SpoiledByteName(63, 0x00, true), "");
  block = GeneratorBlock(0xFF);
  At(block, 78) = 0x00;  // the trims of the second stage are the part's own then
  At(block, 47) = 0x0F;
  EXPECT_EQ(FactoryCellClash(block), 0u);
  EXPECT_EQ(FactoryCellClash(std::vector<uint8_t>(511, 0xFF)), 512u);
}

}  // namespace
}  // namespace qs71
