#include "compile_state.h"

#include <gtest/gtest.h>

namespace {

// Pass 1 starts from the record's own initialisers (the -1 of VolMap and SecOption among
// them) and leaves what belongs to the whole run.
TEST(CompileStateTest, PassOneResetsTheScriptPartOnly) {
  ResetCompileState();
  g_state.Pass = 1;
  g_state.Scale = 0.5;
  g_state.CfgMem[0] = 0x12;
  g_state.ArgCount = 3;
  g_state.ErrorCount = 4;
  g_state.SecNum = 9;
  g_state.VolMap[3] = 7;
  g_state.SecOption[5] = 2;
  ApplyPassOneDefaults();
  EXPECT_EQ(g_state.ErrorCount, 0);
  EXPECT_EQ(g_state.SecNum, 3);
  EXPECT_EQ(g_state.VolMap[3], -1);
  EXPECT_EQ(g_state.SecOption[5], -1);
  EXPECT_EQ(g_state.Pass, 1);
  EXPECT_EQ(g_state.Scale, 0.5);
  EXPECT_EQ(g_state.CfgMem[0], 0x12);
  EXPECT_EQ(g_state.ArgCount, 3);
  ResetCompileState();
}

}  // namespace
