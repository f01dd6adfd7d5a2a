#pragma once
// .PCM8 and .PCM16 sounds: one signed value per sample, no prediction, no header.

#include <cstddef>
#include <cstdint>

// The signed byte the chip plays for a 16-bit sample: s / 256 truncated toward zero, limited
// to -128..127.
uint8_t Pcm8Sample(int32_t sample);

// One byte per sample into out.
void EncodePcm8Block(const int32_t* samples, size_t n, uint8_t* out);

// Two bytes per sample into out, low byte first, limited to -32768..32767.
void EncodePcm16Block(const int32_t* samples, size_t n, uint8_t* out);
