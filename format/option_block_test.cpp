#include "option_block.h"

#include <gtest/gtest.h>

#include <array>
#include <utility>

namespace {

TEST(VolMapTest, LengthComesFromBits12To15OfVolCfg) {
  struct Case {
    int32_t volCfg, length;
  };
  const Case cases[] = {{-1, 16}, {0x3456, 4}, {0, 1}, {0xF000, 16}, {0x10FFF, 1}};
  for (const Case& c : cases) EXPECT_EQ(VolMapLength(c.volCfg), c.length) << c.volCfg;
}

// Every bit of the block is a value's, a fixed one or a repeat, and only one of them: a value
// packed over another would come back wrong from the inspector.
TEST(OptionGlobalTableTest, EveryBitHasOneOwner) {
  std::array<int, kOptionBlockSize * 8> owners{};
  auto own = [&](int byte, uint8_t mask) {
    for (int bit = 0; bit < 8; ++bit) owners[8 * byte + bit] += (mask >> bit) & 1;
  };
  for (const OptionGlobal& g : OptionGlobalTable()) {
    for (int i = 0; i < g.placeCount; ++i) {
      const CfgMemPlace& p = g.places[i];
      own(p.byte, static_cast<uint8_t>(((1u << p.width) - 1u) << p.shift));
    }
  }
  // The fixed bits and the second copies of the repeated ones.
  for (auto [byte, mask] : {std::pair{1, 0xFF}, {2, 0xFF}, {3, 0xFC}, {7, 0xFF}}) {
    own(byte, static_cast<uint8_t>(mask));
  }
  for (size_t bit = 0; bit < owners.size(); ++bit) EXPECT_EQ(owners[bit], 1) << bit;
}

}  // namespace
