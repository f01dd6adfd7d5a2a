#pragma once
// What the driver does to the image after the passes: the clock-divider words in the header,
// the size limits, and the padding to the file size the script asked for. Each step returns
// its error count and leaves what it found in a FinishingError for the driver to print.

#include <string>

struct CompileState;

// The text of an "Errors: <text>." line (empty: nothing to say), whether the detail that the
// failing operation recorded goes with it, and whether the fills that wrote past the end of the
// image are explained after it.
struct FinishingError {
  std::string text;
  bool detail = false;
  bool fillsPastEnd = false;
};

// Writes the default clock-divider word at 8 and 12 where no ramp sound took the place, and
// flushes. Returns the number of errors it found (0 or 1).
int WriteClockDividerWords(CompileState& s, FinishingError* error);

// Only while the pass result is 0: the image must not exceed MaxSize or the address limit.
int CheckSizeLimits(CompileState& s, int passResult, FinishingError* error);

// Always: the blank bytes that nothing was written to get their 0xFF; a longer image than
// FileSize is an error; a shorter one is padded with 0xFF. An image
// that comes out whole (pass result 0) of a size that no part of the family has is warned about.
int CheckFileSizeAndPad(CompileState& s, int passResult, FinishingError* error);
