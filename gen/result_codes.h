#pragma once
// The result codes of the generator's operations: 0 for success, negative for each refusal,
// and InfoLine for a line of text the parser hands to the reporter. Every operation returns one;
// only the reporter (error_report.h) turns them into the messages of the listing.

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
  // A fill that would clear a bit the part keeps from the factory: programmed, it cannot be set
  // again, and the part's trim is gone.
  ErrFactoryCell = -37,
};
