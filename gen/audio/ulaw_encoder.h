#pragma once
// .ULAW sounds: one companded byte per sample. The byte is the complement of the G.711 mu-law
// byte (no bit inversion on storing), so that it indexes the expansion table of the system
// area directly: bit 7 sign, bits 6..4 segment, bits 3..0 mantissa.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/wave_input.h"

// The code of the low 16 bits of sample, taken as a signed 16-bit value.
uint8_t UlawEncodeSample(int32_t sample);

std::vector<uint8_t> EncodeUlawStream(const int32_t* samples, size_t n);

// Encodes the sound into its reserved range of n bytes. 0, ErrInternal when the samples do not
// fill the range exactly, or the image writer's code.
int EncodeUlaw(const SampleBuffer& samples, int32_t offset, int32_t soundBase, int32_t start,
               int32_t end, const char* name, const char* fileName);
