#pragma once
// Every script diagnostic goes through ReportError: operations return a result code, the
// statement hands it over with its line, and the reporter decides by code and pass whether it
// is printed and counted. This is the one place where the result codes are defined.

enum ResultCode {
  ErrNone = 0,
  InfoLine = 1,
  ErrInternal = -1,
  ErrSyntax = -2,
  ErrConstRedefined = -3,
  ErrConstUndefined = -4,
  ErrMalloc = -5,
  ErrVoiceRedefined = -6,
  ErrInternal7 = -7,
  ErrFileOpen = -8,
  ErrSectorNumber = -9,
  ErrYesNo = -10,
  ErrNumberInput = -11,
  ErrWaveFile = -12,
  ErrWrite = -13,
  ErrRead = -14,
  ErrGroupUndefined = -15,
  ErrNeedParameter = -16,
  ErrCpuType = -17,
  ErrGrpAdr = -18,
  ErrEncoderBits = -19,
  ErrEncoderAlgorithm = -20,
  ErrEncoderParameter = -21,
  ErrSystemArea = -22,
  ErrCfgMemField = -23,
  ErrCfgMemValue = -24,
  ErrOptionValue = -25,
  // Refusals of input that the old tool would have divided by zero on, written outside the
  // image, or overflowed a buffer with.
  ErrDivideByZero = -26,
  ErrRampRate = -27,
  ErrFileSize = -28,
  ErrGroupRate = -29,
  ErrFilePosition = -30,
  ErrLiteralTooLong = -31,
  // Refusals of addresses and lengths that would wrap in the field the chip reads them from.
  // An OTP part is written once, so a wrapped field is never left for the chip to find.
  ErrSilenceLength = -32,
  ErrGroupTableAddress = -33,
  ErrSoundAddress = -34,
  ErrLinkLength = -35,
  ErrRampPosition = -36,
};

// Prints and counts (or not) one diagnostic for the current pass. text may be null.
void ReportError(int code, int line, const char* text);

// Receives the parser's syntax messages; a message that is exactly "parse error" is dropped.
void SyntaxMessage(const char* text);

// The message of a code as the table holds it (with "%s" unexpanded), or null.
const char* ErrorMessage(int code);
