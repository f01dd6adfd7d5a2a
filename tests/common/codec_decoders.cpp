#include "codec_decoders.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "byte_order.h"
#include "sound_decoders.h"

namespace testcodec {
namespace {

StoredCodecTables TablesWith(const std::vector<int32_t>& steps,
                             const std::vector<int32_t>& expansion) {
  StoredCodecTables tables;
  std::copy_n(steps.begin(), std::min<size_t>(steps.size(), kImaStepCount), tables.steps);
  std::copy_n(expansion.begin(), std::min<size_t>(expansion.size(), kUlawCodeCount),
              tables.expansion);
  return tables;
}

}  // namespace

std::vector<int32_t> ReadLe16Table(const uint8_t* bytes, size_t count) {
  std::vector<int32_t> out(count);
  for (size_t i = 0; i < count; ++i) {
    out[i] = static_cast<int32_t>(GetLittleEndian(bytes + 2 * i, 2));
  }
  return out;
}

// The chip plays every nibble of a range; a stream of an odd sample count ends half a byte
// early.
std::vector<int32_t> DecodeImaAdpcm(const uint8_t* stream, size_t sampleCount,
                                    const std::vector<int32_t>& steps) {
  std::vector<int32_t> out =
      DecodeAdpcmRange(stream, (sampleCount + 1) / 2, TablesWith(steps, {}));
  out.resize(sampleCount);
  return out;
}

std::vector<int32_t> DecodeUlaw(const uint8_t* codes, size_t count,
                                const std::vector<int32_t>& expansion) {
  return DecodeUlawRange(codes, count, TablesWith({}, expansion));
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
