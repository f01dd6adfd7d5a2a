#include "script/statements.h"

#include <cstring>
#include <string>

#include "audio/sound_import.h"
#include "compile_state.h"
#include "grammar.tab.h"
#include "image/cfgmem_fields.h"
#include "image/fill_scale.h"
#include "image/image_layout.h"
#include "image/option_block.h"
#include "image/section_table.h"
#include "script/diagnostics.h"
#include "script/name_tables.h"
#include "script/scanner.h"
#include "wrap_math.h"

namespace {

char g_groupName[kLiteralBufferSize] = {};
int g_fileSizeLine = 0;  // where $FILESIZE was set, to point at it when the size is refused

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

}  // namespace

void CopyName() { CopyInto(g_state.NameBuffer); }
void CopyGroupName() { CopyInto(g_groupName); }

void DefineStatement(int32_t value, int line) {
  if (!PassOne()) return;
  ReportError(DefineConst(g_state.NameBuffer, value), line, g_state.NameBuffer);
}

void LengthSoundStatement(int32_t kind, int32_t length, int line) {
  int r = PassOne() ? DefineSound(g_state.NameBuffer, "", kind, length)
                    : ImportSound(g_state.NameBuffer);
  ReportError(r, line, nullptr);
}

void WaveSoundStatement(int32_t kind, int line) {
  const char* literal = ScannerLiteral();
  int r = PassOne() ? DefineSound(g_state.NameBuffer, literal, kind, 0)
                    : ImportSound(g_state.NameBuffer);
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
  if (token == T_FILL && !PassOne()) r = FillData(literal);
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
    // A rate of 0 would divide the main clock by zero when the link is written.
    if (r == ErrNone && rate == 0) r = ErrGroupRate;
  } else {
    r = LinkGroup(section, g_groupName, rate, flag);
  }
  ReportError(r, line, g_groupName);
}

void SyntaxErrorLine(int line) { ReportError(ErrSyntax, line, nullptr); }

void EndOfPass() {
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

void ResetStatements() {
  g_groupName[0] = '\0';
  g_fileSizeLine = 0;
}
