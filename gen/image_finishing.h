#pragma once
// What the driver does to the image after the passes: the clock-divider words in the header,
// the size limits, and the padding to the file size the script asked for.

// Writes the default clock-divider word at 8 and 12 where no ramp sound took the place, and
// flushes. Returns the number of errors it found (0 or 1); each prints its own line.
int WriteClockDividerWords();

// Only while the pass result is 0: the image must not exceed MaxSize or the address limit.
int CheckSizeLimits(int passResult);

// Always: a longer image than FileSize is an error; a shorter one is padded with 0xFF. An image
// that comes out whole (pass result 0) of a size that no part of the family has is warned about.
int CheckFileSizeAndPad(int passResult);

// Prints a finishing error in the style of the size messages.
void PrintFinishingError(const char* text);
