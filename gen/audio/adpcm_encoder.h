#pragma once
// .ADPCM sounds: IMA ADPCM at 4 bits per sample, two codes per byte, earlier sample in the high
// nibble. The stream has no header: the chip starts every sound from predictor 0 and step
// index 0 and steps with the table it finds in its system area.

#include <cstddef>
#include <cstdint>

// What one sample leaves for the next; a sound starts from the default and carries it from
// block to block.
struct AdpcmState {
  int32_t predictor = 0;  // kept within -32768..32767
  int32_t index = 0;      // kept within 0..88
};

// Encodes one sample and advances the state exactly as the chip's decoder will; returns the
// 4-bit code (bit 3 the sign).
uint8_t AdpcmEncodeStep(AdpcmState* state, int32_t sample);

// Bytes of n samples: (n + 1) / 2.
size_t AdpcmBytes(size_t n);

// Encodes n samples from state into out (AdpcmBytes(n) bytes) and leaves state where the last
// sample left it. A block of a sound holds an even count except the sound's last, whose lone
// last code takes the high nibble of its byte; so a sound gives the same bytes in any blocks.
void EncodeAdpcmBlock(AdpcmState* state, const int32_t* samples, size_t n, uint8_t* out);
