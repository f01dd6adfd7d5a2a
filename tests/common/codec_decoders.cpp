#include "codec_decoders.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace testcodec {
namespace {

// Step-index change per code magnitude, as the IMA reference decoder has it.
constexpr int kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

struct ImaDecoder {
  const std::vector<int32_t>& steps;
  int32_t predictor = 0;
  int32_t index = 0;

  int32_t Next(int code) {
    const int32_t step = steps[static_cast<size_t>(index)];
    int32_t delta = step >> 3;
    if (code & 4) delta += step;
    if (code & 2) delta += step >> 1;
    if (code & 1) delta += step >> 2;
    predictor += (code & 8) ? -delta : delta;
    predictor = std::clamp(predictor, -32768, 32767);
    const int32_t last = static_cast<int32_t>(steps.size()) - 1;
    index = std::clamp(index + kIndexAdjust[code & 7], 0, last);
    return predictor;
  }
};

}  // namespace

std::vector<int32_t> ReadLe16Table(const uint8_t* bytes, size_t count) {
  std::vector<int32_t> out(count);
  for (size_t i = 0; i < count; ++i) out[i] = bytes[2 * i] | (bytes[2 * i + 1] << 8);
  return out;
}

std::vector<int32_t> DecodeImaAdpcm(const uint8_t* stream, size_t sampleCount,
                                    const std::vector<int32_t>& steps) {
  std::vector<int32_t> out;
  out.reserve(sampleCount);
  ImaDecoder decoder{steps};
  for (size_t i = 0; i < sampleCount; ++i) {
    const uint8_t byte = stream[i / 2];
    out.push_back(decoder.Next(i % 2 == 0 ? byte >> 4 : byte & 15));
  }
  return out;
}

std::vector<int32_t> DecodeUlaw(const uint8_t* codes, size_t count,
                                const std::vector<int32_t>& expansion) {
  std::vector<int32_t> out(count);
  for (size_t i = 0; i < count; ++i) {
    const int32_t magnitude = expansion[codes[i] & 0x7F];
    out[i] = (codes[i] & 0x80) ? -magnitude : magnitude;
  }
  return out;
}

double SnrDb(const std::vector<int32_t>& reference, const std::vector<int32_t>& decoded) {
  const size_t n = std::min(reference.size(), decoded.size());
  double signal = 0;
  double noise = 0;
  for (size_t i = 0; i < n; ++i) {
    const double r = reference[i];
    const double e = r - decoded[i];
    signal += r * r;
    noise += e * e;
  }
  if (noise == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(signal / noise);
}

}  // namespace testcodec
