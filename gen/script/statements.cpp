#include "script/statements.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "ascii_case.h"
#include "audio/sound_import.h"
#include "audio/wave_input.h"
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
#include "file_system.h"
#include "script/diagnostics.h"
#include "script/scanner.h"
#include "sound_report.h"
#include "text_format.h"
#include "warnings.h"
#include "wrap_math.h"

namespace {

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

bool PassOne(CompileState& s) { return s.Pass == 1; }

// Pass 2 of a sound: its listing lines come before the report of its result.
int ImportListed(CompileState& s, const char* name) {
  std::string listing;
  const int r = ImportSound(s, name, &listing);
  std::fwrite(listing.data(), 1, listing.size(), s.Out);
  return r;
}

void CopyInto(CompileState& s, char* target) {
  std::strncpy(target, ScannerLiteral(s), kLiteralBufferSize - 1);
  target[kLiteralBufferSize - 1] = '\0';
}

int StoreGlobal(CompileState& s, int token, int32_t value) {
  if (token == T_MAINCLK) {
    s.MainClk = value / 32;  // kept as the main clock divided by 32
    return ErrNone;
  }
  if (token == T_RAMP_RATE) {
    if (value == 0) return ErrRampRate;  // it divides the clock for every ramp word
    s.Ramp_Rate = value;
    return ErrNone;
  }
  // A project's part size stands in place of the script's own.
  if (token == T_FILESIZE && s.PartSize != 0) return ErrNone;
  for (const GlobalField& g : kGlobalFields) {
    if (g.token == token) s.*g.field = value;
  }
  if (token == T_GRPADR && (value < 1 || value > 4)) return ErrGrpAdr;
  return ErrNone;
}

void NoteSoundDefined(CompileState& s, int line, int32_t fileRate) {
  std::string key = AsciiLowerCopy(s.NameBuffer);
  if (s.Statements.soundUseIndex.count(key) != 0) return;  // a redefinition: the first one stands
  s.Statements.soundUseIndex.emplace(key, s.Statements.soundUses.size());
  s.Statements.soundUses.push_back({s.NameBuffer, line, fileRate, false});
}

SoundUse* FindSoundUse(CompileState& s, const char* name) {
  auto it = s.Statements.soundUseIndex.find(AsciiLowerCopy(name));
  return it == s.Statements.soundUseIndex.end() ? nullptr : &s.Statements.soundUses[it->second];
}

// The chip plays the samples as they are, at the link's rate: a file of another rate comes
// out at the wrong pitch and speed.
void NoteLink(CompileState& s, const char* name, int32_t rate, int line) {
  SoundUse* use = FindSoundUse(s, name);
  const SoundDef* sound = FindSound(s, name);
  if (use == nullptr || sound == nullptr) return;
  use->linked = true;
  NotePreparedLink(s, name, rate);
  // A resampled sound plays at the rate of its link, whatever its file's.
  if (s.Prep.options.resample) return;
  if (use->fileRate <= 0 || rate <= 0 || use->fileRate == rate) return;
  std::string file = HintPath(sound->text);
  WarnOnce(s, Format("wave rate %s(%d)", AsciiLowerCopy(name).c_str(), rate), line,
           "%s is %d Hz but is linked at %d Hz; resample with `sox %s -r %d out.wav`",
           sound->text.c_str(), use->fileRate, rate, file.c_str(), rate);
}

void WarnIfClockMissesRate(CompileState& s, int32_t rate, int line) {
  PlayedRate played{};
  // Resampled sounds are made for the rate the chip plays, so they keep their pitch there.
  if (s.Prep.options.resample) return;
  if (!ChipPlayedRate(s.MainClk, rate, &played) || played.withinOnePercent) return;
  WarnOnce(s, Format("clock rate %d", rate), line,
           "the chip cannot play %d Hz within 1 %%; it will play at %d Hz", rate, played.hz);
}

bool IsRampSound(const std::string& name) {
  for (const char* ramp : kRampSoundNames) {
    if (EqualsNoCase(name, ramp)) return true;
  }
  return false;
}

void WarnUnlinkedSounds(CompileState& s) {
  for (const SoundUse& use : s.Statements.soundUses) {
    if (use.linked || IsRampSound(use.name)) continue;
    Warn(s, use.line, "sound %s is defined but never linked (no .SECTION $GROUPS line names it)",
         use.name.c_str());
  }
}

// A project's settings for a sound the script does not define would silently do nothing.
void CheckOwnSettings(CompileState& s) {
  for (const auto& entry : s.Prep.own) {
    if (FindSound(s, entry.first.c_str()) != nullptr) continue;
    const SoundSettings& own = entry.second;
    const std::string text = Format("%s: [sound.%s]: %s defines no sound %s; give a sound the script defines",
                                    own.where.c_str(), own.name.c_str(), s.Args[1].c_str(), own.name.c_str());
    std::fprintf(s.Err, "qs71gen: %s\n", text.c_str());
    s.Reports.errors.push_back(text);
    ++s.ErrorCount;
  }
}

// Only now are the links and the main clock known, and with them the rate of each sound.
void PrepareSounds(CompileState& s) {
  if (!s.Prep.options.Active()) return;
  for (const SoundUse& use : s.Statements.soundUses) {
    ReportError(s, PrepareDefinedSound(s, use.name.c_str(), use.line), use.line, nullptr);
  }
  AdviseLoudnessReach(s);
}

const char* StopHintFor(int token) {
  for (const StopHint& h : kStopHints) {
    if (h.token == token) return h.hint;
  }
  return "no statement starts like this line";
}

// The parser ends a pass without a word at a line no statement can begin with (the start rule
// takes it as the end of the script), so the lines below it silently go missing.
void WarnWhereReadingStopped(CompileState& s) {
  if (ScannerReachedEnd(s)) return;
  int below = ScannerLinesBelowLastToken(s);
  std::string lost = below == 0   ? std::string("this line is not read")
                     : below == 1 ? std::string("this line and 1 line below are not read")
                                  : Format("this line and %d lines below are not read", below);
  Warn(s, ScannerLastTokenLine(s), "the script ends here: %s (%s)", lost.c_str(),
       StopHintFor(ScannerLastToken(s)));
}

// What a wave file's data size means, said where its sound is defined. A size the file cannot
// hold makes pass 2 fail (and may first push every later address out of the image); a pipe's
// placeholder size is read to the end of the file; a size of 0 with bytes behind it stays an
// empty sound, as the chip tools read it, but is rarely what the designer meant.
void WarnDataSize(CompileState& s, int defined, int line) {
  const bool prepared = s.Prep.options.Active();
  if (defined != ErrNone && !prepared) return;
  const SoundDef* sound = FindSound(s, s.NameBuffer);
  DataSizeKind kind = DataSizeKind::Kept;
  const std::string notice = sound != nullptr ? DataSizeNotice(sound->text, &kind) : "";
  if (notice.empty()) return;
  // The placeholder's scripts never compiled before, so --strict may count it; the others are
  // advice: a cut-short file is an error in pass 2 anyway, an empty one compiled before.
  if (kind == DataSizeKind::Streamed) Warn(s, line, "%s", notice.c_str());
  else Advise(s, line, "%s", notice.c_str());
}

}  // namespace

void CopyName(CompileState& s) { CopyInto(s, s.NameBuffer); }
void CopyGroupName(CompileState& s) { CopyInto(s, s.Statements.groupName); }

void DefineStatement(CompileState& s, int32_t value, int line) {
  if (!PassOne(s)) return;
  ReportError(s, DefineConst(s, s.NameBuffer, value), line, s.NameBuffer);
}

void LengthSoundStatement(CompileState& s, int32_t kind, int32_t length, int line) {
  int r;
  if (PassOne(s)) {
    r = DefineSound(s, s.NameBuffer, "", kind, length);
    NoteSoundDefined(s, line, 0);
  } else {
    r = ImportListed(s, s.NameBuffer);
  }
  ReportError(s, r, line, nullptr);
}

void WaveSoundStatement(CompileState& s, int32_t kind, int line) {
  const char* literal = ScannerLiteral(s);
  int r;
  if (PassOne(s)) {
    r = DefineSound(s, s.NameBuffer, literal, kind, 0);
    // A definition that read its header has just set WaveRate to this file's rate.
    NoteSoundDefined(s, line, r == ErrNone ? s.WaveRate : 0);
    WarnDataSize(s, r, line);
  } else {
    r = ImportListed(s, s.NameBuffer);
  }
  ReportError(s, r, line, literal);
}

void CfgMemStatement(CompileState& s, int32_t value, int line) {
  if (!PassOne(s)) return;
  ReportError(s, SetCfgMemField(s, s.NameBuffer, value), line, s.NameBuffer);
}

void GlobalNumber(CompileState& s, int token, int32_t value, int line) {
  if (!PassOne(s)) return;
  int r = StoreGlobal(s, token, value);
  if (token == T_FILESIZE) s.Statements.fileSizeLine = line;
  ReportError(s, r, line, nullptr);
}

void GlobalLiteral(CompileState& s, int token, int line) {
  const char* literal = ScannerLiteral(s);
  int r = ErrNone;
  if (token == T_FILL && !PassOne(s)) r = FillData(s, literal, line);
  if (token == T_VOL_MAP && PassOne(s)) r = ParseVolMap(s, literal);
  if (token == T_SCALING && PassOne(s)) r = SetScale(s, literal);
  ReportError(s, r, line, nullptr);
}

void SectionOption(CompileState& s, int32_t section, int32_t option, int line) {
  if (PassOne(s)) ReportError(s, SetSectionOption(s, section, option), line, nullptr);
}

void SectionFlag(CompileState& s, int32_t section, int bit, int line) {
  if (PassOne(s)) ReportError(s, SetSectionFlag(s, section, bit, ScannerLiteral(s)), line, nullptr);
}

void SectionGroup(CompileState& s, int32_t section, int32_t rate, int32_t flag, int line) {
  int r;
  if (PassOne(s)) {
    r = CountGroupLink(s, section, s.Statements.groupName);
    if (r == ErrNone) NoteLink(s, s.Statements.groupName, rate, line);
    if (r == ErrNone) NoteScriptLink(s, section, s.Statements.groupName, rate, flag);
    // A line that names the sound but fails has its own error; "never linked" would mislead.
    else if (SoundUse* use = FindSoundUse(s, s.Statements.groupName)) use->linked = true;
    // A rate of 0 would divide the main clock by zero when the link is written.
    if (r == ErrNone && rate == 0) r = ErrGroupRate;
  } else {
    // Only now is the main clock final: a $MAINCLK line may follow the links.
    r = LinkGroup(s, section, s.Statements.groupName, rate, flag);
    if (r == ErrNone) WarnIfClockMissesRate(s, rate, line);
    if (r == ErrNone) MapLink(s, section, s.Statements.groupName, rate, flag);
  }
  ReportError(s, r, line, s.Statements.groupName);
}

void SyntaxErrorLine(CompileState& s, int line) { ReportError(s, ErrSyntax, line, nullptr); }

void EndOfPass(CompileState& s) {
  if (PassOne(s)) {
    WarnWhereReadingStopped(s);
    WarnUnlinkedSounds(s);
    CheckOwnSettings(s);
    // The prepared samples are measured beside their sources.
    PrepareSounds(s);
    MeasureSounds(s);
  }
  if (!PassOne(s) || s.ErrorCount != 0) return;
  int r = AddVolMap(s);
  if (r == ErrFileSize) {
    std::string size = std::to_string(s.FileSize);
    ReportError(s, r, s.Statements.fileSizeLine != 0 ? s.Statements.fileSizeLine : ScannerLastTextLine(s), size.c_str());
    return;
  }
  // The skeleton is written after the last line read; its failures point there.
  ReportError(s, r, ScannerLastTextLine(s), nullptr);
}

int32_t ConstantValue(CompileState& s, int line) { return LookupConst(s, ScannerLiteral(s), line); }

int32_t ParameterValue(CompileState& s, int32_t index, int line) {
  if (index >= s.ArgCount) {
    ReportError(s, ErrNeedParameter, line, nullptr);
    return -1;
  }
  int32_t value = -1;
  ReportError(s, ConvertNumber(s.Args[index].c_str(), &value), line, nullptr);
  return value;
}

int32_t Add(int32_t a, int32_t b) { return WrapAdd(a, b); }
int32_t Subtract(int32_t a, int32_t b) { return WrapSub(a, b); }
int32_t Multiply(int32_t a, int32_t b) { return WrapMul(a, b); }
int32_t Negate(int32_t a) { return WrapNeg(a); }

int32_t Divide(CompileState& s, int32_t a, int32_t b, int line) {
  int32_t q = -1;
  if (!WrapDiv(a, b, &q)) ReportError(s, ErrDivideByZero, line, nullptr);
  return q;
}


