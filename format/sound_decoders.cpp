#include "sound_decoders.h"

#include "byte_order.h"

namespace {

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

int32_t Le16(const uint8_t* p) { return static_cast<int32_t>(GetLittleEndian(p, 2)); }

constexpr int kUlawTableBytes = 2 * kUlawCodeCount;
constexpr int kStepTableOffset = 256;  // the step table follows the u-law table's 256 bytes

struct ImaPlayer {
  const StoredCodecTables& tables;
  int32_t predictor = 0;
  int32_t index = 0;

  // The stored steps are unsigned 16-bit values; a damaged table may hold up to 65535,
  // which the 32-bit sum below still carries without overflow.
  int32_t Play(int code) {
    const int32_t step = tables.steps[index];
    int32_t delta = step >> 3;
    if (code & 4) delta += step;
    if (code & 2) delta += step >> 1;
    if (code & 1) delta += step >> 2;
    predictor = Clamp(predictor + ((code & 8) ? -delta : delta), -32768, 32767);
    index = Clamp(index + ImaIndexAdjust(code), 0, kImaStepCount - 1);
    return predictor;
  }
};

}  // namespace

StoredCodecTables ReadStoredCodecTables(const uint8_t* systemArea) {
  StoredCodecTables tables;
  static_assert(kUlawTableBytes <= kStepTableOffset);
  for (int c = 0; c < kUlawCodeCount; ++c) tables.expansion[c] = Le16(systemArea + 2 * c);
  for (int i = 0; i < kImaStepCount; ++i) {
    tables.steps[i] = Le16(systemArea + kStepTableOffset + 2 * i);
  }
  return tables;
}

std::vector<int32_t> DecodeAdpcmRange(const uint8_t* bytes, size_t byteCount,
                                      const StoredCodecTables& tables) {
  AdpcmPlayback playback;
  return DecodeAdpcmPiece(&playback, bytes, byteCount, tables);
}

std::vector<int32_t> DecodeAdpcmPiece(AdpcmPlayback* playback, const uint8_t* bytes,
                                      size_t byteCount, const StoredCodecTables& tables) {
  std::vector<int32_t> out;
  out.reserve(2 * byteCount);
  ImaPlayer player{tables, playback->predictor, playback->index};
  for (size_t i = 0; i < byteCount; ++i) {
    out.push_back(player.Play(bytes[i] >> 4));
    out.push_back(player.Play(bytes[i] & 0x0F));
  }
  playback->predictor = player.predictor;
  playback->index = player.index;
  return out;
}

std::vector<int32_t> DecodeUlawRange(const uint8_t* codes, size_t count,
                                     const StoredCodecTables& tables) {
  std::vector<int32_t> out(count);
  for (size_t i = 0; i < count; ++i) {
    const int32_t magnitude = tables.expansion[codes[i] & 0x7F];
    out[i] = (codes[i] & 0x80) ? -magnitude : magnitude;
  }
  return out;
}

std::vector<int32_t> DecodePcm8Range(const uint8_t* bytes, size_t count) {
  std::vector<int32_t> out(count);
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<int8_t>(bytes[i]) * 256;
  return out;
}

std::vector<int32_t> DecodePcm16Range(const uint8_t* bytes, size_t byteCount) {
  std::vector<int32_t> out(byteCount / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<int16_t>(Le16(bytes + 2 * i));
  }
  return out;
}
