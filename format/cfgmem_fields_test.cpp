#include "cfgmem_fields.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ascii_case.h"
#include "format_test_support.h"

namespace {

using Block = imagetest::CfgMemBlock;
using imagetest::InitialBlock;
using imagetest::OwnedBits;

TEST(CfgMemTableTest, HasAllFieldsWithUniqueNames) {
  std::set<std::string> names;
  for (const CfgMemField& f : CfgMemFieldTable()) names.insert(AsciiLowerCopy(f.name));
  EXPECT_EQ(CfgMemFieldTable().size(), 110u);
  EXPECT_EQ(names.size(), 110u);
}

// Every bit belongs to exactly one field; only these keep the 1 of the initial fill.
TEST(CfgMemTableTest, EveryBitHasOneOwnerExceptTheUnusedOnes) {
  Block unused{};
  for (int b : {2, 8, 14}) unused[b] = 0xE0;
  for (int b : {3, 9, 15}) unused[b] = 0x80;
  for (int b : {5, 11, 17}) unused[b] = 0xC0;
  unused[28] = 0x02;
  unused[41] = 0x70;
  for (int byte = 0; byte < kCfgMemBytes; ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      std::vector<std::string> owners;
      for (const CfgMemField& f : CfgMemFieldTable()) {
        if (OwnedBits(f)[byte] & (1 << bit)) owners.push_back(f.name);
      }
      const size_t expected = (unused[byte] & (1 << bit)) ? 0 : 1;
      EXPECT_EQ(owners.size(), expected) << "byte " << byte << " bit " << bit << " "
                                         << (owners.empty() ? "" : owners[0]);
    }
  }
}

TEST(CfgMemDecodeTest, PatternsNoValueProducesAreRejected) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> bytes;
  };
  const Case cases[] = {
      {"LvrSet", {{0, 0xFD}}},              // bits 01: no setting gives that
      {"PullUI", {{37, 0xFD}}},             // 5 is beyond 0 to 4
      {"mod0", {{31, 0xFF}}},               // 15 + 8 is beyond 16
      {"Func", {{32, 0xBF}, {35, 0xDF}}},   // the two registers disagree
      {"Slave", {}},                        // 0x5A: not a slave
      {"XtCfg", {{28, 0xEB}}},              // bit 5 alone
  };
  for (const Case& c : cases) {
    Block b = InitialBlock();
    for (auto [byte, value] : c.bytes) b[byte] = static_cast<uint8_t>(value);
    uint32_t v = 0;
    EXPECT_FALSE(DecodeCfgMemField(*FindCfgMemField(c.name), b.data(), &v)) << c.name;
  }
}

TEST(CfgMemDecodeTest, InitialBlockDecodesToTheFillValues) {
  const Block b = InitialBlock();
  uint32_t v = 0;
  ASSERT_TRUE(DecodeCfgMemField(*FindCfgMemField("LvrSet"), b.data(), &v));
  EXPECT_EQ(v, 0u);
  ASSERT_TRUE(DecodeCfgMemField(*FindCfgMemField("SecNum"), b.data(), &v));
  EXPECT_EQ(v, 1024u);
  ASSERT_TRUE(DecodeCfgMemField(*FindCfgMemField("dacbits"), b.data(), &v));
  EXPECT_EQ(v, 16u);
  EXPECT_EQ(FindCfgMemField("nosuchfield"), nullptr);
}

}  // namespace
