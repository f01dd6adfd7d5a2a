#include "image/cfgmem_block.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "compile_state.h"
#include "format_test_support.h"
#include "result_codes.h"

namespace {

using Block = imagetest::CfgMemBlock;
using imagetest::InitialBlock;
using imagetest::OwnedBits;

Block CurrentBlock(CompileState& s) {
  Block b;
  std::memcpy(b.data(), s.CfgMem, b.size());
  return b;
}

TEST(CfgMemFieldTest, FirstStatementInitialisesEvenWhenRefused) {
  CompileState s;
  EXPECT_EQ(SetCfgMemField(s, "Foo", 1), ErrCfgMemField);
  EXPECT_EQ(s.CfgMemUsed, 1);
  EXPECT_EQ(CurrentBlock(s), InitialBlock());
  EXPECT_EQ(SetCfgMemField(s, "DefVol", 3), ErrNone);
  EXPECT_EQ(SetCfgMemField(s, "MaxVol", 4), ErrNone);  // a later statement does not refill
  EXPECT_EQ(s.CfgMem[43], 0x43);
}

// One statement on a fresh block and the bytes it changes (all others stay as initialised).
TEST(CfgMemFieldTest, EncodingsOfSingleStatements) {
  CompileState s;
  struct Case {
    const char* name;
    int32_t value;
    std::vector<std::pair<int, int>> bytes;  // byte, value
  };
  const Case cases[] = {
      {"LvrSet", 1, {{0, 0xFE}}},
      {"lvrset", 0, {}},
      {"LvrSet", 2, {{0, 0xFC}}},
      {"BgrSet", 1, {{0, 0xFB}}},
      {"DacSet", 2, {{0, 0x3F}}},
      {"BgrTrim1", 0, {{9, 0x80}}},
      {"adfs2", 5, {{17, 0xF5}}},
      {"endpi1", 0, {{11, 0xEF}}},
      {"RoscSel0", 3, {{19, 0xAF}}},
      {"RoscSel4", 4, {{27, 0x8F}}},
      {"RoscSet", 2, {{19, 0xFC}}},
      {"RoscSet", 4, {{19, 0xF0}}},
      {"RoscV2", 0x123, {{22, 0x12}, {23, 0xF3}}},
      {"xOPTEn", 0, {}},
      {"xOPTEn", 1, {{28, 0xFE}}},
      {"XtCfg", 1, {{28, 0xDB}}},
      {"XtCfg", 2, {{28, 0xCB}}},
      {"pwmbits", 11, {}},
      {"pwmbits", 4, {{29, 0x8F}}},
      {"dacsrc", 2, {{30, 0xF7}}},
      {"dacsrc", 3, {{30, 0xF3}}},
      {"dacbits", 9, {{30, 0x8F}}},
      {"mod0", 8, {{31, 0xF0}}},
      {"mod1", 16, {{31, 0x8F}}},
      {"Func", 5, {{32, 0xBF}, {35, 0xBF}}},
      {"Slave", 7, {{33, 0x00}}},
      {"Slave", -5, {{33, 0x00}}},
      {"FuncOpt", 0x2A5, {{36, 0xA5}, {45, 0xFE}}},
      {"OutPos", 1, {{37, 0x7F}, {39, 0x7F}}},
      {"SecNum", 1, {{40, 0x03}, {41, 0xF0}}},
      {"SecNum", 1024, {}},
      {"SecNum", 0x2A, {{40, 0xA7}, {41, 0xF0}}},
      {"paritychk", 0, {{41, 0x7F}}},
      {"VolPin", 1, {{42, 0xFD}}},
      {"VolPin", 2, {{42, 0xFE}}},
      {"PwrCtrl", 1, {{45, 0x7F}}},
      {"Out3Sel", 2, {{47, 0x2F}}},
  };
  for (const Case& c : cases) {
    s = CompileState();
    EXPECT_EQ(SetCfgMemField(s, c.name, c.value), ErrNone) << c.name;
    Block expected = InitialBlock();
    for (auto [byte, value] : c.bytes) expected[byte] = static_cast<uint8_t>(value);
    EXPECT_EQ(CurrentBlock(s), expected) << c.name << " = " << c.value;
  }
}

TEST(CfgMemFieldTest, RoscVKeepsTheSelectorInTheHighNibble) {
  CompileState s;
  ASSERT_EQ(SetCfgMemField(s, "RoscSel2", 2), ErrNone);
  ASSERT_EQ(SetCfgMemField(s, "RoscV2", 0x123), ErrNone);
  EXPECT_EQ(s.CfgMem[22], 0x12);
  EXPECT_EQ(s.CfgMem[23], 0x93);
}

TEST(CfgMemFieldTest, RefusedValuesLeaveTheBlock) {
  CompileState s;
  struct Case {
    const char* name;
    int32_t value;
  };
  const Case cases[] = {{"SecNum", 0},  {"SecNum", 1025}, {"pwmbits", 3},  {"pwmbits", 12},
                        {"DefVol", -1}, {"DefVol", 16},   {"dacsrc", 0},   {"LvrSet", 3},
                        {"RoscV1", 4096}, {"mod0", 7},    {"FuncOpt", 1024}, {"PullUI", 5}};
  for (const Case& c : cases) {
    s = CompileState();
    ASSERT_EQ(SetCfgMemField(s, "UsrSel", 1), ErrNone);
    const Block before = CurrentBlock(s);
    EXPECT_EQ(SetCfgMemField(s, c.name, c.value), ErrCfgMemValue) << c.name << " " << c.value;
    EXPECT_EQ(CurrentBlock(s), before) << c.name;
  }
}

// Each accepted value of each field writes only the field's bits and reads back as itself;
// the values just outside the range are refused.
TEST(CfgMemFieldTest, EveryFieldRoundTripsWithinItsOwnBits) {
  CompileState s;
  for (const CfgMemField& f : CfgMemFieldTable()) {
    const Block owned = OwnedBits(f);
    const uint32_t last = f.max - f.min > 4095 ? f.min + 3 : f.max;
    for (uint32_t v = f.min; v <= last; ++v) {
      s.CfgMemUsed = 0;
      ASSERT_EQ(SetCfgMemField(s, f.name, static_cast<int32_t>(v)), ErrNone) << f.name << " " << v;
      const Block got = CurrentBlock(s);
      const Block init = InitialBlock();
      for (int i = 0; i < kCfgMemBytes; ++i) {
        ASSERT_EQ(got[i] & ~owned[i], init[i] & ~owned[i]) << f.name << " byte " << i;
      }
      uint32_t back = 0xDEAD;
      ASSERT_TRUE(DecodeCfgMemField(f, got.data(), &back)) << f.name << " " << v;
      EXPECT_EQ(back, f.encoding == CfgMemEncoding::Constant ? 0u : v) << f.name;
    }
    if (f.min > 0) {
      EXPECT_EQ(SetCfgMemField(s, f.name, static_cast<int32_t>(f.min - 1)),
                ErrCfgMemValue) << f.name;
    }
    if (f.max < 0xFFFFFFFFu) {
      EXPECT_EQ(SetCfgMemField(s, f.name, static_cast<int32_t>(f.max + 1)),
                ErrCfgMemValue) << f.name;
      EXPECT_EQ(SetCfgMemField(s, f.name, -1), ErrCfgMemValue) << f.name;
    }
  }
}

}  // namespace
