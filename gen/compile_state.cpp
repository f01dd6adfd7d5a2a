#include "compile_state.h"

#include <algorithm>

CompileState g_state;

void ApplyPassOneDefaults() {
  CompileState& s = g_state;
  s.ErrorCount = 0;
  s.SecNum = 3;
  s.Offset = 0;
  s.MaxSize = 0x10000000;
  s.GrpAdr = 3;
  s.FileSize = 0;
  s.FuncCode = s.MiscOpt = s.Output = s.WakeupDly = s.SrcSpd = -1;
  s.IO_Cfg = s.DbckSi = s.DbckUi = s.Vol_Cfg = s.Ramp_Cfg = -1;
  s.Ramp_Rate = 64000;
  s.MainClk = 512000;
  std::fill(std::begin(s.VolMap), std::end(s.VolMap), -1);
  s.AddressLimit = 0x10000000;
  s.MaxSection = 0;
  std::fill(std::begin(s.SecGroups), std::end(s.SecGroups), 0);
  std::fill(std::begin(s.SecLinked), std::end(s.SecLinked), 0);
  std::fill(std::begin(s.SecBase), std::end(s.SecBase), 0);
  std::fill(std::begin(s.SecFlags), std::end(s.SecFlags), 0);
  std::fill(std::begin(s.SecOption), std::end(s.SecOption), -1);
  s.SoundBase = 0;
  s.NextSoundStart = 0;
  s.WaveRate = 0;
  s.CfgMemUsed = 0;
  s.RampDecDone = 0;
  s.RampIncDone = 0;
}

void ResetCompileState() {
  g_state = CompileState();
  ApplyPassOneDefaults();
}
