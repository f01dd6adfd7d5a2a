#include "audio/pcm_encoders.h"

#include <algorithm>

uint8_t Pcm8Sample(int32_t sample) {
  int32_t v = sample / 256;
  if (v > 127) v = 127;
  if (v < -128) v = -128;
  return static_cast<uint8_t>(v);
}

void EncodePcm8Block(const int32_t* samples, size_t n, uint8_t* out) {
  for (size_t i = 0; i < n; ++i) out[i] = Pcm8Sample(samples[i]);
}

void EncodePcm16Block(const int32_t* samples, size_t n, uint8_t* out) {
  for (size_t i = 0; i < n; ++i) {
    // Limited here rather than through LimitSample in another file, so that the loop compiles
    // to a few vector instructions instead of a call per sample.
    uint16_t v = static_cast<uint16_t>(std::clamp(samples[i], -32768, 32767));
    out[2 * i] = static_cast<uint8_t>(v);
    out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
}
