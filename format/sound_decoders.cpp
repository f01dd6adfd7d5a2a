#include "sound_decoders.h"

#include "byte_order.h"
#include "sound_kinds.h"

namespace {

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

int32_t Le16(const uint8_t* p) { return static_cast<int32_t>(GetLittleEndian(p, 2)); }

constexpr int kUlawTableBytes = 2 * kUlawCodeCount;
constexpr int kStepTableOffset = 256;  // the step table follows the u-law table's 256 bytes

}  // namespace

// The stored steps are unsigned 16-bit values; a damaged table may hold up to 65535, which
// the 32-bit sum still carries without overflow.
int32_t AdpcmDelta(int32_t step, int code) {
  int32_t delta = step >> 3;
  if (code & 4) delta += step;
  if (code & 2) delta += step >> 1;
  if (code & 1) delta += step >> 2;
  return (code & 8) ? -delta : delta;
}

int32_t AdpcmNextIndex(int32_t index, int code) {
  return Clamp(index + ImaIndexAdjust(code), 0, kImaStepCount - 1);
}

int32_t PlayAdpcmCode(AdpcmPlayback* s, const StoredCodecTables& tables, int code) {
  s->predictor = Clamp(s->predictor + AdpcmDelta(tables.steps[s->index], code), -32768, 32767);
  s->index = AdpcmNextIndex(s->index, code);
  return s->predictor;
}

StoredCodecTables ReadStoredCodecTables(const uint8_t* systemArea) {
  StoredCodecTables tables;
  static_assert(kUlawTableBytes <= kStepTableOffset);
  for (int c = 0; c < kUlawCodeCount; ++c) tables.expansion[c] = Le16(systemArea + 2 * c);
  for (int i = 0; i < kImaStepCount; ++i) {
    tables.steps[i] = Le16(systemArea + kStepTableOffset + 2 * i);
  }
  return tables;
}

StoredCodecTables ImageCodecTables() {
  StoredCodecTables tables;
  for (int i = 0; i < kImaStepCount; ++i) tables.steps[i] = static_cast<uint16_t>(kImaStepTable[i]);
  for (int c = 0; c < kUlawCodeCount; ++c) tables.expansion[c] = UlawExpansion(c);
  return tables;
}

std::vector<int32_t> DecodeAdpcmRange(const uint8_t* bytes, size_t byteCount,
                                      const StoredCodecTables& tables) {
  std::vector<int32_t> out(2 * byteCount);
  AdpcmPlayback state;
  DecodeAdpcmBlock(&state, bytes, byteCount, tables, out.data());
  return out;
}

void DecodeAdpcmBlock(AdpcmPlayback* state, const uint8_t* bytes, size_t byteCount,
                      const StoredCodecTables& tables, int32_t* out) {
  for (size_t i = 0; i < byteCount; ++i) {
    out[2 * i] = PlayAdpcmCode(state, tables, bytes[i] >> 4);
    out[2 * i + 1] = PlayAdpcmCode(state, tables, bytes[i] & 0x0F);
  }
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

std::vector<int32_t> DecodeKindRange(int32_t kind, const uint8_t* bytes, size_t byteCount,
                                     const StoredCodecTables& tables) {
  switch (kind) {
    case KindAdpcm: return DecodeAdpcmRange(bytes, byteCount, tables);
    case KindUlaw: return DecodeUlawRange(bytes, byteCount, tables);
    case KindPcm8: return DecodePcm8Range(bytes, byteCount);
    case KindPcm16: return DecodePcm16Range(bytes, byteCount);
    default: return {};
  }
}
