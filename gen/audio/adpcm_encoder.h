#pragma once
// .ADPCM sounds: IMA ADPCM at 4 bits per sample, two codes per byte, earlier sample in the high
// nibble. The stream has no header: the chip starts every sound from predictor 0 and step
// index 0 and steps with the table it finds in its system area.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/wave_input.h"

struct AdpcmState {
  int32_t predictor = 0;  // kept within -32768..32767
  int32_t index = 0;      // kept within 0..88
};

// Encodes one sample and advances the state exactly as the chip's decoder will; returns the
// 4-bit code (bit 3 the sign).
uint8_t AdpcmEncodeStep(AdpcmState* state, int32_t sample);

// The packed stream of n samples: (n + 1) / 2 bytes, a lone last code in the high nibble.
std::vector<uint8_t> EncodeAdpcmStream(const int32_t* samples, size_t n);

// Encodes the sound into its reserved range. 0, ErrInternal when the samples do not fill the
// range exactly, or the image writer's code.
int EncodeAdpcm(const SampleBuffer& samples, int32_t offset, int32_t soundBase, int32_t start,
                int32_t end, const char* name, const char* fileName);
