#pragma once
// Everything one compilation knows lives in one record: the current pass, the error count, the
// global settings of the script, the per-section tables, the addresses the image layout fixes
// and the streams. Pass 2 starts with whatever pass 1 left; unit tests reset it between runs.

#include <cstdint>
#include <cstdio>
#include <string>

constexpr int kSectionCount = 1024;
constexpr int kMaxArgs = 10;
constexpr int kNameBufferSize = 1024;
constexpr int kCfgMemSize = 48;

struct CompileState {
  // Pass control and diagnostics.
  int32_t Pass = 0;
  int32_t ErrorCount = 0;

  // Global settings, set by `.GLOBAL` statements in pass 1.
  int32_t SecNum = 3;
  int32_t Offset = 0;
  int32_t MaxSize = 0x10000000;
  int32_t GrpAdr = 3;
  int32_t FileSize = 0;
  int32_t FuncCode = -1;
  int32_t MiscOpt = -1;
  int32_t Output = -1;
  int32_t WakeupDly = -1;
  int32_t SrcSpd = -1;
  int32_t IO_Cfg = -1;
  int32_t DbckSi = -1;
  int32_t DbckUi = -1;
  int32_t Vol_Cfg = -1;
  int32_t Ramp_Cfg = -1;
  int32_t Ramp_Rate = 64000;
  int32_t MainClk = 512000;  // the main clock divided by 32
  int32_t VolMap[16] = {};
  int32_t AddressLimit = 0x10000000;

  // Section tables, indexed by section number.
  int32_t MaxSection = 0;
  int32_t SecGroups[kSectionCount] = {};
  int32_t SecLinked[kSectionCount] = {};
  int32_t SecBase[kSectionCount] = {};
  int32_t SecFlags[kSectionCount] = {};
  int32_t SecOption[kSectionCount] = {};

  // Layout and sound import.
  int32_t SoundBase = 0;
  int32_t NextSoundStart = 0;
  int32_t WaveRate = 0;
  int32_t CfgMemUsed = 0;
  int32_t RampDecDone = 0;
  int32_t RampIncDone = 0;
  double Scale = 1.0;  // set once per run, not per pass

  // The 48-byte configuration block that `.CFGMEM` statements fill.
  uint8_t CfgMem[kCfgMemSize] = {};

  // Command line: the count and the first ten arguments (index 0 is the program name).
  int32_t ArgCount = 0;
  std::string Args[kMaxArgs];

  // Streams: the script, the image (opened "wb+") and the wave file being read, if any.
  FILE* Script = nullptr;
  FILE* Image = nullptr;
  FILE* Wave = nullptr;

  // Statement name buffer: names are copied here before the next token overwrites the
  // scanner's literal buffer.
  char NameBuffer[kNameBufferSize] = {};
};

extern CompileState g_state;

// Sets every field that has a default to it; the part of `Init_yylex(1)` that touches state.
void ApplyPassOneDefaults();

// Whole reset for a new run in the same process (tests): closes nothing, forgets everything.
void ResetCompileState();
