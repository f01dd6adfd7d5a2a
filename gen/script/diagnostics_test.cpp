#include "script/diagnostics.h"

#include <gtest/gtest.h>

#include <string>

#include "compile_state.h"
#include "image/cfgmem_block.h"

namespace {

struct ReportCase {
  int pass;
  int code;
  int line;
  const char* text;
  const char* printed;  // nullptr: silent
};

const char kInternal[] = "Internal Error !! What happens?\n";

// Every code of the table in both passes: what is printed, and that a printed line counts.
const ReportCase kCases[] = {
    {1, ErrSyntax, 5, nullptr, "*Error Line5: Syntax Error.\n"},
    {2, ErrSyntax, 5, nullptr, nullptr},
    {1, ErrConstRedefined, 12, "LEN", "*Error Line12: Const <LEN> Redefined.\n"},
    {2, ErrConstRedefined, 12, "LEN", nullptr},
    {1, ErrConstUndefined, 3, "LEN", "*Error Line3: Const <LEN> Undefined.\n"},
    {2, ErrConstUndefined, 3, "LEN", nullptr},
    {1, ErrMalloc, 1, nullptr, "*Error Line1: Malloc Error.\n"},
    {2, ErrMalloc, 1, nullptr, "*Error Line1: Malloc Error.\n"},
    {1, ErrVoiceRedefined, 2, nullptr, "*Error Line2: voice Redefined.\n"},
    {2, ErrVoiceRedefined, 2, nullptr, nullptr},
    {1, ErrInternal7, 2, nullptr, kInternal},
    {2, ErrInternal7, 2, nullptr, kInternal},
    {1, ErrFileOpen, 3, "\"x.wav\"", "*Error Line3: file <\"x.wav\"> open error .\n"},
    {2, ErrFileOpen, 3, "\"x.wav\"", "*Error Line3: file <\"x.wav\"> open error .\n"},
    {1, ErrSectorNumber, 4, nullptr, "*Error Line4: Invalid Sector number .\n"},
    {2, ErrSectorNumber, 4, nullptr, nullptr},
    {1, ErrYesNo, 4, nullptr, "*Error Line4: Only \"yes\" or \"no\" is valid option .\n"},
    {2, ErrYesNo, 4, nullptr, nullptr},
    {1, ErrNumberInput, 4, nullptr, "*Error Line4: Invalid number input .\n"},
    {2, ErrNumberInput, 4, nullptr, nullptr},
    {1, ErrWaveFile, 7, "\"a.wav\"", nullptr},
    {2, ErrWaveFile, 7, "\"a.wav\"", "*Error Line7: Invalid or un-supported wave file.\n"},
    {1, ErrWrite, 1, nullptr, "*Error Line1: Fatel Write Operation.\n"},
    {2, ErrWrite, 1, nullptr, "*Error Line1: Fatel Write Operation.\n"},
    {1, ErrRead, 1, nullptr, "*Error Line1: Fatel Read  Operation.\n"},
    {2, ErrRead, 1, nullptr, "*Error Line1: Fatel Read  Operation.\n"},
    {1, ErrGroupUndefined, 9, "bell", "*Error Line9: Group <bell> Undefined.\n"},
    {2, ErrGroupUndefined, 9, "bell", "*Error Line9: Group <bell> Undefined.\n"},
    {1, ErrNeedParameter, 1, nullptr, "*Error Line1: Need cmd line parameter input.\n"},
    {2, ErrNeedParameter, 1, nullptr, "*Error Line1: Need cmd line parameter input.\n"},
    {1, ErrCpuType, 1, nullptr, "*Error Line1: Unknow CPU Type.\n"},
    {2, ErrCpuType, 1, nullptr, "*Error Line1: Unknow CPU Type.\n"},
    {1, ErrGrpAdr, 1, nullptr, "*Error Line1: Invalid GrpAdr.\n"},
    {2, ErrGrpAdr, 1, nullptr, "*Error Line1: Invalid GrpAdr.\n"},
    {1, ErrEncoderBits, 1, nullptr, "*Error Line1: Invalid Encoder bits.\n"},
    {2, ErrEncoderBits, 1, nullptr, "*Error Line1: Invalid Encoder bits.\n"},
    {1, ErrEncoderAlgorithm, 1, nullptr, "*Error Line1: Invalid Encoder Algorithm.\n"},
    {2, ErrEncoderAlgorithm, 1, nullptr, "*Error Line1: Invalid Encoder Algorithm.\n"},
    {1, ErrEncoderParameter, 1, nullptr, "*Error Line1: Invalid Encoder Parameter.\n"},
    {2, ErrEncoderParameter, 1, nullptr, "*Error Line1: Invalid Encoder Parameter.\n"},
    {1, ErrSystemArea, 1, nullptr, kInternal},
    {2, ErrSystemArea, 1, nullptr, "*Error Line1: Overlap with System Area.\n"},
    {1, ErrCfgMemField, 7, "Foo", "*Error Line7: Invalid CfgMem field name <Foo> .\n"},
    {2, ErrCfgMemField, 7, "Foo", kInternal},
    {1, ErrCfgMemValue, 7, "DefVol", "*Error Line7: Invalid CfgMem.<DefVol>'s value.\n"},
    {2, ErrCfgMemValue, 7, "DefVol", kInternal},
    {1, ErrOptionValue, 2, nullptr, "*Error Line2: Invalid Option value.\n"},
    {2, ErrOptionValue, 2, nullptr, kInternal},
    {1, ErrInternal, 2, nullptr, kInternal},
    {2, ErrInternal, 2, nullptr, kInternal},
    {1, 5, 2, nullptr, kInternal},
    {2, 5, 2, nullptr, kInternal},
    {1, -99, 2, nullptr, kInternal},
    {1, ErrDivideByZero, 3, nullptr, "*Error Line3: Division by zero or quotient overflow in expression.\n"},
    {2, ErrDivideByZero, 3, nullptr, nullptr},
    {1, ErrFileSize, 1, "0", "*Error Line1: Invalid FileSize 0, the image needs at least 512 bytes.\n"},
    {2, ErrFilePosition, 8, nullptr, "*Error Line8: Image position out of range.\n"},
    {1, ErrSilenceLength, 3, nullptr, "*Error Line3: Invalid silence or mute length, it must be at least 1.\n"},
    {2, ErrSilenceLength, 3, nullptr, nullptr},
    {1, ErrGroupTableAddress, 9, nullptr, "*Error Line9: Group table beyond 16 MiB, out of its section entry's reach.\n"},
    {2, ErrGroupTableAddress, 9, nullptr, nullptr},
    {2, ErrSoundAddress, 6, "big", "*Error Line6: Address of <big> does not fit in GrpAdr bytes.\n"},
    {2, ErrLinkLength, 6, "gap", "*Error Line6: Length of <gap> does not fit its link in GrpAdr bytes.\n"},
    {2, ErrRampPosition, 4, "\"r.wav\"", "*Error Line4: Ramp sound <\"r.wav\"> beyond 16 MiB, out of its header word's reach.\n"},
};

TEST(ReportErrorTest, EveryCodeInBothPasses) {
  CompileState s;
  for (const ReportCase& c : kCases) {
    s = CompileState();
    s.Pass = c.pass;
    testing::internal::CaptureStdout();
    ReportError(s, c.code, c.line, c.text);
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    SCOPED_TRACE("pass " + std::to_string(c.pass) + " code " + std::to_string(c.code));
    EXPECT_EQ(out, c.printed != nullptr ? c.printed : "");
    EXPECT_EQ(s.ErrorCount, c.printed != nullptr ? 1 : 0);
  }
}

TEST(ReportErrorTest, InfoLinePrintsTextWithoutCounting) {
  CompileState s;
  for (int pass : {1, 2}) {
    s = CompileState();
    s.Pass = pass;
    testing::internal::CaptureStdout();
    ReportError(s, InfoLine, 0, "=<< PASS 1 >>==");
    ReportError(s, ErrNone, 3, "ignored");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "=<< PASS 1 >>==\n");
    EXPECT_EQ(s.ErrorCount, 0);
  }
}

TEST(ReportErrorTest, LongTextIsNeverCut) {
  CompileState s;
  s.Pass = 1;
  std::string name(1023, 'n');
  testing::internal::CaptureStdout();
  ReportError(s, ErrConstUndefined, 1, name.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "*Error Line1: Const <" + name + "> Undefined.\n");
}

TEST(SyntaxMessageTest, DropsExactlyParseError) {
  CompileState s;
  s.Pass = 1;
  testing::internal::CaptureStdout();
  SyntaxMessage(s, "parse error");
  SyntaxMessage(s, "parse error, unexpected '='");
  SyntaxMessage(s, "memory exhausted");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "parse error, unexpected '='\nmemory exhausted\n");
  EXPECT_EQ(s.ErrorCount, 0);
}

// A refused .CFGMEM line names the field it could not find.
TEST(CfgMemFieldTest, UnknownNameIsReportedWithItsName) {
  CompileState s;
  s.Pass = 1;
  testing::internal::CaptureStdout();
  ReportError(s, SetCfgMemField(s, "Foo", 1), 7, "Foo");
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "*Error Line7: Invalid CfgMem field name <Foo> .\n");
}

}  // namespace
