#include "audio/adpcm_encoder.h"

#include "audio/codec_tables.h"
#include "audio/sound_output.h"
#include "script/diagnostics.h"

namespace {

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The magnitude bits by successive approximation against step, step/2 and step/4; the
// reconstruction adds step/8 so that it matches the decoder's delta to the last bit.
int32_t Quantize(int32_t diff, int32_t step, uint8_t* code) {
  int32_t delta = step >> 3;
  int32_t part = step;
  for (uint8_t bit = 4; bit != 0; bit >>= 1) {
    if (diff >= part) {
      *code |= bit;
      diff -= part;
      delta += part;
    }
    part >>= 1;
  }
  return delta;
}

}  // namespace

uint8_t AdpcmEncodeStep(AdpcmState* state, int32_t sample) {
  const int32_t step = kImaStepTable[state->index];
  int32_t diff = LimitSample(sample) - state->predictor;
  uint8_t code = 0;
  if (diff < 0) {
    code = 8;
    diff = -diff;
  }
  int32_t delta = Quantize(diff, step, &code);
  if (code & 8) delta = -delta;
  state->predictor = Clamp(state->predictor + delta, -32768, 32767);
  state->index = Clamp(state->index + ImaIndexAdjust(code), 0, kImaStepCount - 1);
  return code;
}

std::vector<uint8_t> EncodeAdpcmStream(const int32_t* samples, size_t n) {
  std::vector<uint8_t> bytes((n + 1) / 2, 0);
  AdpcmState state;
  for (size_t i = 0; i < n; ++i) {
    uint8_t code = AdpcmEncodeStep(&state, samples[i]);
    bytes[i / 2] |= (i % 2 == 0) ? static_cast<uint8_t>(code << 4) : code;
  }
  return bytes;
}

int EncodeAdpcm(const SampleBuffer& samples, int32_t offset, int32_t soundBase, int32_t start,
                int32_t end, const char* name, const char* fileName) {
  if (!HasValidCount(samples)) return ErrInternal;
  const size_t n = static_cast<size_t>(samples.count);
  const SoundPlace place{offset, soundBase, start, end, name, fileName};
  return StoreSound("ADPCM", samples, place, EncodeAdpcmStream(samples.samples.data(), n));
}
