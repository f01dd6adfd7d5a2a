#include "audio/pcm_encoders.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

uint8_t Pcm8Sample(int32_t sample) {
  int32_t v = sample / 256;
  if (v > 127) v = 127;
  if (v < -128) v = -128;
  return static_cast<uint8_t>(v);
}

int32_t Pcm8NearestInput(int32_t sample) {
  const int32_t half = sample > 0 ? 128 : sample < 0 ? -128 : 0;
  return std::clamp(sample + half, -32768, 32767);
}

void EncodePcm8Block(const int32_t* samples, size_t n, uint8_t* out) {
  for (size_t i = 0; i < n; ++i) out[i] = Pcm8Sample(samples[i]);
}

void EncodePcm16Block(const int32_t* samples, size_t n, uint8_t* out) {
  if constexpr (std::endian::native == std::endian::little) {
    // The image's byte order is the host's: each sample is stored as the host stores an int16,
    // and samples within 16 bits (the reader's always are) need no limit, whose vector form
    // costs several instructions a sample.
    uint32_t offsets = 0;  // above 0xFFFF when a sample is outside 16 bits
    for (size_t i = 0; i < n; ++i) offsets |= static_cast<uint32_t>(samples[i]) + 32768u;
    for (size_t i = 0; i < n; ++i) {
      const int32_t limited = offsets > 0xFFFFu ? std::clamp(samples[i], -32768, 32767) : samples[i];
      const int16_t v = static_cast<int16_t>(limited);
      std::memcpy(out + 2 * i, &v, sizeof v);
    }
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    // Limited here rather than through LimitSample in another file, so that the loop compiles
    // to a few vector instructions instead of a call per sample.
    uint16_t v = static_cast<uint16_t>(std::clamp(samples[i], -32768, 32767));
    out[2 * i] = static_cast<uint8_t>(v);
    out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
}

namespace {

// The bias that makes every segment start at a power of two.
constexpr int32_t kBias = 132;

// 0 below 256, else the highest set bit among bits 8..14 minus 7.
int32_t Segment(int32_t v) {
  for (int32_t e = 7; e > 0; --e) {
    if (v & (0x80 << e)) return e;
  }
  return 0;
}

}  // namespace

uint8_t UlawEncodeSample(int32_t sample) {
  const int32_t s = static_cast<int16_t>(static_cast<uint16_t>(sample));
  const uint8_t sign = s < 0 ? 0x80 : 0;
  // Magnitudes from 32636 on would carry into bit 15; they all take the top code.
  int32_t v = (s < 0 ? -s : s) + kBias;
  if (v >= 32768) v = 0xFFFF;
  const int32_t e = Segment(v);
  return static_cast<uint8_t>(sign | (e << 4) | ((v >> (e + 3)) & 0x0F));
}

namespace {

// The codes of all 65536 16-bit values, worked out once from UlawEncodeSample: a long sound
// then costs one lookup per sample instead of the bias, limit and segment arithmetic.
const std::array<uint8_t, 65536>& CodeTable() {
  static const std::array<uint8_t, 65536> table = [] {
    std::array<uint8_t, 65536> codes{};
    for (uint32_t v = 0; v < codes.size(); ++v) {
      codes[v] = UlawEncodeSample(static_cast<int32_t>(v));
    }
    return codes;
  }();
  return table;
}

}  // namespace

void EncodeUlawBlock(const int32_t* samples, size_t n, uint8_t* out) {
  const std::array<uint8_t, 65536>& codes = CodeTable();
  // Only the low 16 bits of a sample count, as in UlawEncodeSample.
  for (size_t i = 0; i < n; ++i) out[i] = codes[static_cast<uint16_t>(samples[i])];
}
