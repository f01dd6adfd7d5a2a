#pragma once
// Everything one compilation knows lives in one record, which the driver owns and hands to every
// part that needs it: the current pass, the error count, the global settings of the script, the
// per-section tables, the addresses the image layout fixes, the streams, and what the scanner,
// the statements, the name lists, the fills, the map and the output keep. Nothing of a compile
// lives anywhere else, so compiles can run one after another or side by side in one process.
// Pass 2 starts with whatever pass 1 left.

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/sound_preparation.h"
#include "cfgmem_fields.h"
#include "image/fill_scale.h"
#include "image/image_file.h"
#include "link_map.h"
#include "name_tables.h"
#include "option_block.h"
#include "output_file.h"
#include "script/scanner.h"
#include "script/statements.h"
#include "section_entry.h"
#include "sound_report.h"
#include "warnings.h"

struct CompileRoutes;
struct WatchedCompile;

constexpr int kMaxArgs = 10;
constexpr int kNameBufferSize = 1024;

using SectionTable = std::array<int32_t, kSectionCount>;

template <size_t N>
constexpr std::array<int32_t, N> FilledTable(int32_t value) {
  std::array<int32_t, N> table{};
  table.fill(value);
  return table;
}

// What pass 1 computes afresh from the script, with the values it starts from. The option
// values come with the defaults of the blank option block.
struct ScriptState : OptionValues {
  int32_t ErrorCount = 0;

  // Global settings, set by `.GLOBAL` statements in pass 1.
  int32_t Offset = 0;
  int32_t MaxSize = 0x10000000;
  int32_t GrpAdr = 3;
  int32_t FileSize = 0;
  int32_t Ramp_Rate = 64000;
  int32_t MainClk = 512000;  // the main clock divided by 32
  // A step never set by $VOL_MAP keeps all ones, which the listing shows as ffffffffh.
  std::array<int32_t, kVolMapEntries> VolMap = FilledTable<kVolMapEntries>(-1);
  int32_t AddressLimit = 0x10000000;

  // Section tables, indexed by section number.
  int32_t MaxSection = 0;
  SectionTable SecGroups = {};
  SectionTable SecLinked = {};
  SectionTable SecBase = {};
  SectionTable SecFlags = {};
  SectionTable SecOption = FilledTable<kSectionCount>(kNoOption);

  // Layout and sound import.
  int32_t SoundBase = 0;
  int32_t NextSoundStart = 0;
  int32_t WaveRate = 0;
  int32_t CfgMemUsed = 0;
  int32_t RampDecDone = 0;
  int32_t RampIncDone = 0;
};

// The rest lives for the whole run: a new pass 1 does not touch it.
struct CompileState : ScriptState {
  int32_t Pass = 0;
  double Scale = 1.0;  // set once per run, not per pass
  int32_t AdpcmQuality = 0;  // --adpcm-quality: how hard the ADPCM encoder searches
  // From a project: the part size in place of the script's $FILESIZE (0: the script's), and
  // the folder the script's wave file names are read from (empty: the working folder).
  int32_t PartSize = 0;
  std::string SoundFolder;

  // The 48-byte configuration block that `.CFGMEM` statements fill; the first of them blanks
  // it, CfgMemUsed tells whether one was seen.
  uint8_t CfgMem[kCfgMemBytes] = {};

  // Command line: the count and the first ten arguments (index 0 is the program name).
  int32_t ArgCount = 0;
  std::string Args[kMaxArgs];

  // Streams: the script, the image (opened "wb+") and the wave file being read, if any; the
  // listing goes to Out and the messages to Err.
  FILE* Script = nullptr;
  FILE* Image = nullptr;
  FILE* Wave = nullptr;
  FILE* Out = stdout;
  FILE* Err = stderr;

  // Statement name buffer: names are copied here before the next token overwrites the
  // scanner's literal buffer.
  char NameBuffer[kNameBufferSize] = {};

  ScannerState Scan;
  StatementMemory Statements;
  WarningState Warnings;
  NameTables Names;
  std::vector<FillRecord> Fills;  // in script order
  std::vector<LinkRecord> Links;  // in script order, as pass 2 wrote them
  std::vector<LinkRecord> ScriptLinks;  // as pass 1 counted them, for a map of a compile that stopped
  SoundReports Reports;
  PendingImage Pending;
  ImageBlanks Blanks;  // the image's bytes still to be written blank at its end
  PreparationState Prep;
  WatchedCompile* Watched = nullptr;  // under --watch: what the compile read, for the watch
  const CompileRoutes* Routes = nullptr;  // the watch, the fit, the project and the page, when the program gives them
  // --fit's look at the script: each recording is probed and its rate found, none is prepared
  // (the fit prepares each at the rates it measures).
  bool ProbeSoundsOnly = false;
};

// Puts every field of ScriptState back to its start value; the part of `Init_yylex(1)` that
// touches state.
void ApplyPassOneDefaults(CompileState& s);

// The image stream for the writers: a failed write's cause becomes the detail of the error
// that reports it, naming the output.
ImageStream ImageOf(CompileState& s);

// Line of the $FILESIZE statement that set the image size, 0 when none did.
int FileSizeLine(const CompileState& s);
