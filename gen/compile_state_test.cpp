#include "compile_state.h"

#include <gtest/gtest.h>

namespace {

// Pass 1 starts from the record's own initialisers (the -1 of VolMap and SecOption among
// them) and leaves what belongs to the whole run.
TEST(CompileStateTest, PassOneResetsTheScriptPartOnly) {
  CompileState s;
  s.Pass = 1;
  s.Scale = 0.5;
  s.CfgMem[0] = 0x12;
  s.ArgCount = 3;
  s.ErrorCount = 4;
  s.SecNum = 9;
  s.VolMap[3] = 7;
  s.SecOption[5] = 2;
  ApplyPassOneDefaults(s);
  EXPECT_EQ(s.ErrorCount, 0);
  EXPECT_EQ(s.SecNum, 3);
  EXPECT_EQ(s.VolMap[3], -1);
  EXPECT_EQ(s.SecOption[5], -1);
  EXPECT_EQ(s.Pass, 1);
  EXPECT_EQ(s.Scale, 0.5);
  EXPECT_EQ(s.CfgMem[0], 0x12);
  EXPECT_EQ(s.ArgCount, 3);
}

}  // namespace
