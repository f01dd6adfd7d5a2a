#include "error_report.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "compile_state.h"
#include "text_format.h"
#include "warnings.h"

namespace {

enum class Show { Silent, Shown, Internal };

struct CodeRow {
  int code;
  const char* message;
  Show pass1;
  Show pass2;
};

constexpr Show S = Show::Silent;
constexpr Show P = Show::Shown;
constexpr Show I = Show::Internal;

// Pass 2 is silent on what only pass 1 can find, so each script error is reported once.
const CodeRow kCodes[] = {
    {ErrSyntax, "Syntax Error", P, S},
    {ErrConstRedefined, "Const <%s> Redefined", P, S},
    {ErrConstUndefined, "Const <%s> Undefined", P, S},
    {ErrMalloc, "Malloc Error", P, P},
    {ErrVoiceRedefined, "voice Redefined", P, S},
    {ErrInternal7, nullptr, I, I},
    {ErrFileOpen, "file <%s> open error ", P, P},
    {ErrSectorNumber, "Invalid Sector number ", P, S},
    {ErrYesNo, "Only \"yes\" or \"no\" is valid option ", P, S},
    {ErrNumberInput, "Invalid number input ", P, S},
    {ErrWaveFile, "Invalid or un-supported wave file", S, P},
    {ErrWrite, "Fatel Write Operation", P, P},
    {ErrRead, "Fatel Read  Operation", P, P},
    {ErrGroupUndefined, "Group <%s> Undefined", P, P},
    {ErrNeedParameter, "Need cmd line parameter input", P, P},
    {ErrCpuType, "Unknow CPU Type", P, P},
    {ErrGrpAdr, "Invalid GrpAdr", P, P},
    {ErrEncoderBits, "Invalid Encoder bits", P, P},
    {ErrEncoderAlgorithm, "Invalid Encoder Algorithm", P, P},
    {ErrEncoderParameter, "Invalid Encoder Parameter", P, P},
    {ErrSystemArea, "Overlap with System Area", I, P},
    {ErrCfgMemField, "Invalid CfgMem field name <%s> ", P, I},
    {ErrCfgMemValue, "Invalid CfgMem.<%s>'s value", P, I},
    {ErrOptionValue, "Invalid Option value", P, I},
    {ErrDivideByZero, "Division by zero or quotient overflow in expression", P, S},
    {ErrRampRate, "Invalid RAMP_RATE, it must not be 0", P, P},
    {ErrFileSize, "Invalid FileSize %s, the image needs at least 512 bytes", P, P},
    {ErrGroupRate, "Invalid group rate 0 for <%s>", P, P},
    {ErrFilePosition, "Image position out of range", P, P},
    {ErrLiteralTooLong, "Literal or name longer than 1023 characters", P, S},
    {ErrSilenceLength, "Invalid silence or mute length, it must be at least 1", P, S},
    {ErrGroupTableAddress, "Group table beyond 16 MiB, out of its section entry's reach", P, S},
    {ErrSoundAddress, "Address of <%s> does not fit in GrpAdr bytes", P, P},
    {ErrLinkLength, "Length of <%s> does not fit its link in GrpAdr bytes", P, P},
    {ErrRampPosition, "Ramp sound <%s> beyond 16 MiB, out of its header word's reach", P, P},
    {ErrFactoryCell, "$FILL would destroy the part's factory trim: %s", S, P},
};

const CodeRow* FindRow(int code) {
  for (const CodeRow& row : kCodes) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

Show ShowFor(CompileState& s, int code) {
  const CodeRow* row = FindRow(code);
  if (row == nullptr) return Show::Internal;
  return s.Pass == 2 ? row->pass2 : row->pass1;
}

std::string MessageText(const char* message, const char* text) {
  if (std::strstr(message, "%s") == nullptr) return message;
  return Format(message, text != nullptr ? text : "");
}

}  // namespace

const char* ErrorMessage(int code) {
  const CodeRow* row = FindRow(code);
  return row != nullptr ? row->message : nullptr;
}

void ReportError(CompileState& s, int code, int line, const char* text) {
  if (code == ErrNone) return;
  if (code == InfoLine) {
    std::fprintf(s.Out, "%s\n", text != nullptr ? text : "");
    return;
  }
  const Show show = ShowFor(s, code);
  const bool explained = TakeErrorDetail(s, line, show != Show::Silent);
  switch (show) {
    case Show::Silent:
      return;
    case Show::Internal:
      std::fprintf(s.Out, "Internal Error !! What happens?\n");
      s.Reports.errors.push_back(Format("Internal Error !! What happens? (line %d)", line));
      // The chip tools name neither the line nor the cause.
      if (!explained) {
        PrintScriptPlace(s, line);
        std::fprintf(s.Err, "error: the statement failed (result code %d), which the chip tools "
                     "report only as an internal error\n", code);
      }
      break;
    case Show::Shown: {
      std::string message = MessageText(FindRow(code)->message, text);
      const std::string shown = Format("*Error Line%d: %s.", line, message.c_str());
      std::fprintf(s.Out, "%s\n", shown.c_str());
      s.Reports.errors.push_back(shown);
      break;
    }
  }
  s.ErrorCount++;
}
