#pragma once
// .ULAW sounds: one companded byte per sample. The byte is the complement of the G.711 mu-law
// byte (no bit inversion on storing), so that it indexes the expansion table of the system
// area directly: bit 7 sign, bits 6..4 segment, bits 3..0 mantissa.

#include <cstddef>
#include <cstdint>

// The code of the low 16 bits of sample, taken as a signed 16-bit value.
uint8_t UlawEncodeSample(int32_t sample);

// One code per sample into out.
void EncodeUlawBlock(const int32_t* samples, size_t n, uint8_t* out);
