#pragma once
// Extracted sounds are written as canonical 44-byte-header WAV files, mono: 16-bit for
// everything but PCM8, which keeps its 8 stored bits (as unsigned 8-bit WAV data).

#include <cstdint>
#include <cstdio>
#include <vector>

struct WavFormat {
  uint32_t rate = 0;
  uint16_t bits = 16;  // 8 or 16
};

// The 44-byte header for sampleCount mono samples.
std::vector<uint8_t> WavHeaderBytes(const WavFormat& format, uint32_t sampleCount);

// Samples on the 16-bit scale, limited to it, in the format's width.
std::vector<uint8_t> WavSampleBytes(const WavFormat& format, const std::vector<int32_t>& samples);

// The whole file: header and samples.
std::vector<uint8_t> WavBytes(const WavFormat& format, const std::vector<int32_t>& samples);

// Header and silence into file, streaming the zeros without holding them. False on a short
// write.
bool WriteSilentWav(FILE* file, const WavFormat& format, uint32_t sampleCount);
