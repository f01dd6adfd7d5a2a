#include "audio/pcm_encoders.h"

#include <algorithm>

#include "audio/sound_output.h"

uint8_t Pcm8Sample(int32_t sample) {
  int32_t v = sample / 256;
  if (v > 127) v = 127;
  if (v < -128) v = -128;
  return static_cast<uint8_t>(v);
}

std::vector<uint8_t> EncodePcm8Stream(const int32_t* samples, size_t n) {
  std::vector<uint8_t> bytes = SoundBytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = Pcm8Sample(samples[i]);
  return bytes;
}

std::vector<uint8_t> EncodePcm16Stream(const int32_t* samples, size_t n) {
  std::vector<uint8_t> bytes = SoundBytes(2 * n);
  for (size_t i = 0; i < n; ++i) {
    // Limited here rather than through LimitSample in another file, so that the loop compiles
    // to a few vector instructions instead of a call per sample.
    uint16_t v = static_cast<uint16_t>(std::clamp(samples[i], -32768, 32767));
    bytes[2 * i] = static_cast<uint8_t>(v);
    bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  return bytes;
}

int EncodePcm8(const SampleBuffer& samples, int32_t offset, int32_t soundBase, int32_t start,
               int32_t end, const char* name, const char* fileName) {
  return EncodeAndStore("PCM8 ", EncodePcm8Stream, samples,
                        {offset, soundBase, start, end, name, fileName});
}

int EncodePcm16(const SampleBuffer& samples, int32_t offset, int32_t soundBase, int32_t start,
                int32_t end, const char* name, const char* fileName) {
  return EncodeAndStore("PCM16", EncodePcm16Stream, samples,
                        {offset, soundBase, start, end, name, fileName});
}
