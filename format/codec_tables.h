#pragma once
// The two decoding tables the chip finds in its system area, shared by the encoders that must
// agree with them, by the generator that stores them and by the decoders.

#include <cstdint>

constexpr int kImaStepCount = 89;

// The IMA ADPCM (DVI) step sizes, 7 at index 0 to 32767 at index 88.
extern const int16_t kImaStepTable[kImaStepCount];

// Step-index change for a 4-bit ADPCM code; the sign bit does not matter.
int ImaIndexAdjust(int code);

constexpr int kUlawCodeCount = 128;

// Magnitude of the 7-bit u-law code c (segment in bits 6..4, mantissa in bits 3..0):
// ((8 * mantissa + 132) << segment) - 132, so 0, 8, 16, ... up to 32124.
uint16_t UlawExpansion(int code);
