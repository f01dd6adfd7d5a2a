#pragma once
// The chip reads every multi-byte field of an image least significant byte first: table
// entries, section entries, group entry addresses, header words. So do WAV files.

#include <cstdint>

// The low n bytes (1 to 4) of value, least significant first.
inline void PutLittleEndian(uint8_t* out, uint32_t value, int n) {
  for (int i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

// n bytes (1 to 4), least significant first.
inline uint32_t GetLittleEndian(const uint8_t* in, int n) {
  uint32_t value = 0;
  for (int i = n - 1; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}
