#pragma once
// .PCM8 and .PCM16 sounds: one signed value per sample, no prediction, no header.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/wave_input.h"

// The signed byte the chip plays for a 16-bit sample: s / 256 truncated toward zero, limited
// to -128..127.
uint8_t Pcm8Sample(int32_t sample);

// Two bytes per sample, low byte first, limited to -32768..32767.
std::vector<uint8_t> EncodePcm16Stream(const int32_t* samples, size_t n);

std::vector<uint8_t> EncodePcm8Stream(const int32_t* samples, size_t n);

// Each encodes the sound into its reserved range (n bytes for PCM8, 2n for PCM16). 0,
// ErrInternal when the samples do not fill the range exactly, or the image writer's code.
int EncodePcm8(const SampleBuffer& samples, int32_t offset, int32_t soundBase, int32_t start,
               int32_t end, const char* name, const char* fileName);
int EncodePcm16(const SampleBuffer& samples, int32_t offset, int32_t soundBase, int32_t start,
                int32_t end, const char* name, const char* fileName);
