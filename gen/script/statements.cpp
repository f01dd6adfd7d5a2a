#include "script/statements.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "ascii_case.h"
#include "audio/sound_import.h"
#include "clock_divider.h"
#include "compile_state.h"
#include "grammar.tab.h"
#include "image/cfgmem_block.h"
#include "image/fill_scale.h"
#include "image/image_skeleton.h"
#include "image/option_area.h"
#include "image/section_table.h"
#include "link_map.h"
#include "name_tables.h"
#include "script/diagnostics.h"
#include "script/scanner.h"
#include "text_format.h"
#include "warnings.h"
#include "wrap_math.h"

namespace {

char g_groupName[kLiteralBufferSize] = {};
int g_fileSizeLine = 0;  // where $FILESIZE was set, to point at it when the size is refused

// What pass 1 learns about a sound for the warnings: where it is defined, the rate of its wave
// file, and whether any section links it.
struct SoundUse {
  std::string name;      // as spelled in the definition
  int line = 0;
  int32_t fileRate = 0;  // 0 for silences, mutes and files that could not be read
  bool linked = false;
};

std::vector<SoundUse> g_soundUses;  // in definition order
std::unordered_map<std::string, size_t> g_soundUseIndex;

// The chip finds these two through the header words at 8 and 12, never through a group.
const char* const kRampSoundNames[] = {"RampDec", "RampInc"};

struct StopHint {
  int token;
  const char* hint;
};

// Why a line ended the script, by the token the parser stopped at.
const StopHint kStopHints[] = {
    {T_USR_VAR, "a line that starts with a name ends the script; missing '.'?"},
    {'#', "a line that starts with '#' ends the script; comments start with ';' or '//'"},
};

struct GlobalField {
  int token;
  int32_t CompileState::*field;
};

// .GLOBAL settings that simply store their value.
const GlobalField kGlobalFields[] = {
    {T_SECNUM, &CompileState::SecNum},       {T_OUTPUT, &CompileState::Output},
    {T_FUNCCODE, &CompileState::FuncCode},   {T_MISCOPT, &CompileState::MiscOpt},
    {T_WAKEUPDLY, &CompileState::WakeupDly}, {T_SRCSPD, &CompileState::SrcSpd},
    {T_IO_CFG, &CompileState::IO_Cfg},       {T_DBCKSI, &CompileState::DbckSi},
    {T_DBCKUI, &CompileState::DbckUi},       {T_VOL_CFG, &CompileState::Vol_Cfg},
    {T_RAMP_CFG, &CompileState::Ramp_Cfg},   {T_OFFSET, &CompileState::Offset},
    {T_FILESIZE, &CompileState::FileSize},   {T_MAXSIZE, &CompileState::MaxSize},
    {T_GRPADR, &CompileState::GrpAdr},
};

bool PassOne() { return g_state.Pass == 1; }

// Pass 2 of a sound: its listing lines come before the report of its result.
int ImportListed(const char* name) {
  std::string listing;
  const int r = ImportSound(name, &listing);
  std::fwrite(listing.data(), 1, listing.size(), stdout);
  return r;
}

void CopyInto(char* target) {
  std::strncpy(target, ScannerLiteral(), kLiteralBufferSize - 1);
  target[kLiteralBufferSize - 1] = '\0';
}

int StoreGlobal(int token, int32_t value) {
  CompileState& s = g_state;
  if (token == T_MAINCLK) {
    s.MainClk = value / 32;  // kept as the main clock divided by 32
    return ErrNone;
  }
  if (token == T_RAMP_RATE) {
    if (value == 0) return ErrRampRate;  // it divides the clock for every ramp word
    s.Ramp_Rate = value;
    return ErrNone;
  }
  for (const GlobalField& g : kGlobalFields) {
    if (g.token == token) s.*g.field = value;
  }
  if (token == T_GRPADR && (value < 1 || value > 4)) return ErrGrpAdr;
  return ErrNone;
}

void NoteSoundDefined(int line, int32_t fileRate) {
  std::string key = AsciiLowerCopy(g_state.NameBuffer);
  if (g_soundUseIndex.count(key) != 0) return;  // a redefinition: the first one stands
  g_soundUseIndex.emplace(key, g_soundUses.size());
  g_soundUses.push_back({g_state.NameBuffer, line, fileRate, false});
}

SoundUse* FindSoundUse(const char* name) {
  auto it = g_soundUseIndex.find(AsciiLowerCopy(name));
  return it == g_soundUseIndex.end() ? nullptr : &g_soundUses[it->second];
}

// A path with blanks would split into several words on the sox command line.
std::string CommandLineWord(const std::string& path) {
  return path.find(' ') == std::string::npos ? path : "\"" + path + "\"";
}

// The chip plays the samples as they are, at the link's rate: a file of another rate comes
// out at the wrong pitch and speed.
void NoteLink(const char* name, int32_t rate, int line) {
  SoundUse* use = FindSoundUse(name);
  const SoundDef* sound = FindSound(name);
  if (use == nullptr || sound == nullptr) return;
  use->linked = true;
  if (use->fileRate <= 0 || rate <= 0 || use->fileRate == rate) return;
  std::string file = CommandLineWord(sound->text);
  WarnOnce(Format("wave rate %s(%d)", AsciiLowerCopy(name).c_str(), rate), line,
           "%s is %d Hz but is linked at %d Hz; resample with `sox %s -r %d out.wav`",
           sound->text.c_str(), use->fileRate, rate, file.c_str(), rate);
}

void WarnIfClockMissesRate(int32_t rate, int line) {
  PlayedRate played{};
  if (!ChipPlayedRate(g_state.MainClk, rate, &played) || played.withinOnePercent) return;
  WarnOnce(Format("clock rate %d", rate), line,
           "the chip cannot play %d Hz within 1 %%; it will play at %d Hz", rate, played.hz);
}

bool IsRampSound(const std::string& name) {
  for (const char* ramp : kRampSoundNames) {
    if (EqualsNoCase(name, ramp)) return true;
  }
  return false;
}

void WarnUnlinkedSounds() {
  for (const SoundUse& use : g_soundUses) {
    if (use.linked || IsRampSound(use.name)) continue;
    Warn(use.line, "sound %s is defined but never linked (no .SECTION $GROUPS line names it)",
         use.name.c_str());
  }
}

const char* StopHintFor(int token) {
  for (const StopHint& h : kStopHints) {
    if (h.token == token) return h.hint;
  }
  return "no statement starts like this line";
}

// The parser ends a pass without a word at a line no statement can begin with (the start rule
// takes it as the end of the script), so the lines below it silently go missing.
void WarnWhereReadingStopped() {
  if (ScannerReachedEnd()) return;
  int below = ScannerLinesBelowLastToken();
  std::string lost = below == 0   ? std::string("this line is not read")
                     : below == 1 ? std::string("this line and 1 line below are not read")
                                  : Format("this line and %d lines below are not read", below);
  Warn(ScannerLastTokenLine(), "the script ends here: %s (%s)", lost.c_str(),
       StopHintFor(ScannerLastToken()));
}

}  // namespace

void CopyName() { CopyInto(g_state.NameBuffer); }
void CopyGroupName() { CopyInto(g_groupName); }

void DefineStatement(int32_t value, int line) {
  if (!PassOne()) return;
  ReportError(DefineConst(g_state.NameBuffer, value), line, g_state.NameBuffer);
}

void LengthSoundStatement(int32_t kind, int32_t length, int line) {
  int r;
  if (PassOne()) {
    r = DefineSound(g_state.NameBuffer, "", kind, length);
    NoteSoundDefined(line, 0);
  } else {
    r = ImportListed(g_state.NameBuffer);
  }
  ReportError(r, line, nullptr);
}

void WaveSoundStatement(int32_t kind, int line) {
  const char* literal = ScannerLiteral();
  int r;
  if (PassOne()) {
    r = DefineSound(g_state.NameBuffer, literal, kind, 0);
    // A definition that read its header has just set WaveRate to this file's rate.
    NoteSoundDefined(line, r == ErrNone ? g_state.WaveRate : 0);
  } else {
    r = ImportListed(g_state.NameBuffer);
  }
  ReportError(r, line, literal);
}

void CfgMemStatement(int32_t value, int line) {
  if (!PassOne()) return;
  ReportError(SetCfgMemField(g_state.NameBuffer, value), line, g_state.NameBuffer);
}

void GlobalNumber(int token, int32_t value, int line) {
  if (!PassOne()) return;
  int r = StoreGlobal(token, value);
  if (token == T_FILESIZE) g_fileSizeLine = line;
  ReportError(r, line, nullptr);
}

void GlobalLiteral(int token, int line) {
  const char* literal = ScannerLiteral();
  int r = ErrNone;
  if (token == T_FILL && !PassOne()) r = FillData(literal, line);
  if (token == T_VOL_MAP && PassOne()) r = ParseVolMap(literal);
  if (token == T_SCALING && PassOne()) r = SetScale(literal);
  ReportError(r, line, nullptr);
}

void SectionOption(int32_t section, int32_t option, int line) {
  if (PassOne()) ReportError(SetSectionOption(section, option), line, nullptr);
}

void SectionFlag(int32_t section, int bit, int line) {
  if (PassOne()) ReportError(SetSectionFlag(section, bit, ScannerLiteral()), line, nullptr);
}

void SectionGroup(int32_t section, int32_t rate, int32_t flag, int line) {
  int r;
  if (PassOne()) {
    r = CountGroupLink(section, g_groupName);
    if (r == ErrNone) NoteLink(g_groupName, rate, line);
    // A rate of 0 would divide the main clock by zero when the link is written.
    if (r == ErrNone && rate == 0) r = ErrGroupRate;
  } else {
    // Only now is the main clock final: a $MAINCLK line may follow the links.
    r = LinkGroup(section, g_groupName, rate, flag);
    if (r == ErrNone) WarnIfClockMissesRate(rate, line);
    if (r == ErrNone) MapLink(section, g_groupName, rate, flag);
  }
  ReportError(r, line, g_groupName);
}

void SyntaxErrorLine(int line) { ReportError(ErrSyntax, line, nullptr); }

void EndOfPass() {
  if (PassOne()) {
    WarnWhereReadingStopped();
    WarnUnlinkedSounds();
  }
  if (!PassOne() || g_state.ErrorCount != 0) return;
  int r = AddVolMap();
  if (r == ErrFileSize) {
    std::string size = std::to_string(g_state.FileSize);
    ReportError(r, g_fileSizeLine != 0 ? g_fileSizeLine : ScannerLastTextLine(), size.c_str());
    return;
  }
  // The skeleton is written after the last line read; its failures point there.
  ReportError(r, ScannerLastTextLine(), nullptr);
}

int32_t ConstantValue(int line) { return LookupConst(ScannerLiteral(), line); }

int32_t ParameterValue(int32_t index, int line) {
  if (index >= g_state.ArgCount) {
    ReportError(ErrNeedParameter, line, nullptr);
    return -1;
  }
  int32_t value = -1;
  ReportError(ConvertNumber(g_state.Args[index].c_str(), &value), line, nullptr);
  return value;
}

int32_t Add(int32_t a, int32_t b) { return WrapAdd(a, b); }
int32_t Subtract(int32_t a, int32_t b) { return WrapSub(a, b); }
int32_t Multiply(int32_t a, int32_t b) { return WrapMul(a, b); }
int32_t Negate(int32_t a) { return WrapNeg(a); }

int32_t Divide(int32_t a, int32_t b, int line) {
  int32_t q = -1;
  if (!WrapDiv(a, b, &q)) ReportError(ErrDivideByZero, line, nullptr);
  return q;
}

int FileSizeLine() { return g_fileSizeLine; }

void ResetStatements() {
  g_groupName[0] = '\0';
  g_fileSizeLine = 0;
  g_soundUses.clear();
  g_soundUseIndex.clear();
}
