#include "audio/adpcm_encoder.h"

#include "audio/sound_output.h"
#include "codec_tables.h"

namespace {

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The step index that follows each index and code: the table's adjustment and the 0..88 limit
// folded into one lookup, so that a long sound pays no arithmetic for it on the encoder's
// sample-to-sample dependency chain.
struct IndexTransitions {
  uint8_t next[kImaStepCount][16];
};

const IndexTransitions& Transitions() {
  static const IndexTransitions table = [] {
    IndexTransitions t{};
    for (int index = 0; index < kImaStepCount; ++index) {
      for (int code = 0; code < 16; ++code) {
        t.next[index][code] =
            static_cast<uint8_t>(Clamp(index + ImaIndexAdjust(code), 0, kImaStepCount - 1));
      }
    }
    return t;
  }();
  return table;
}

// One bit of the successive approximation, taken without a branch: on speech the comparison is
// a coin toss, and a mispredicted branch costs more than the whole step. take is all ones when
// diff reaches part.
inline void ApproximateBit(int32_t part, uint8_t bit, int32_t* diff, int32_t* delta,
                           uint8_t* code) {
  const int32_t take = -static_cast<int32_t>(*diff >= part);
  *code = static_cast<uint8_t>(*code | (bit & take));
  *diff -= part & take;
  *delta += part & take;
}

// The magnitude bits against step, step/2 and step/4; the reconstruction adds step/8 so that it
// matches the decoder's delta to the last bit. The sign is applied to the difference and to the
// delta by the same all-ones mask.
inline uint8_t EncodeSample(int32_t sample, const IndexTransitions& transitions,
                            AdpcmState* state) {
  const int32_t step = kImaStepTable[state->index];
  int32_t diff = Clamp(sample, -32768, 32767) - state->predictor;
  const int32_t below = -static_cast<int32_t>(diff < 0);
  diff = (diff ^ below) - below;
  uint8_t code = static_cast<uint8_t>(8 & below);
  int32_t delta = step >> 3;
  ApproximateBit(step, 4, &diff, &delta, &code);
  ApproximateBit(step >> 1, 2, &diff, &delta, &code);
  ApproximateBit(step >> 2, 1, &diff, &delta, &code);
  delta = (delta ^ below) - below;
  state->predictor = Clamp(state->predictor + delta, -32768, 32767);
  state->index = transitions.next[state->index][code];
  return code;
}

}  // namespace

uint8_t AdpcmEncodeStep(AdpcmState* state, int32_t sample) {
  return EncodeSample(sample, Transitions(), state);
}

std::vector<uint8_t> EncodeAdpcmStream(const int32_t* samples, size_t n) {
  std::vector<uint8_t> bytes = SoundBytes((n + 1) / 2);
  const IndexTransitions& transitions = Transitions();
  AdpcmState state;
  size_t i = 0;
  for (; i + 1 < n; i += 2) {
    const uint8_t high = EncodeSample(samples[i], transitions, &state);
    const uint8_t low = EncodeSample(samples[i + 1], transitions, &state);
    bytes[i / 2] = static_cast<uint8_t>(high << 4 | low);
  }
  if (i < n) {
    bytes[i / 2] = static_cast<uint8_t>(EncodeSample(samples[i], transitions, &state) << 4);
  }
  return bytes;
}

int EncodeAdpcm(const SampleBuffer& samples, int32_t offset, int32_t soundBase, int32_t start,
                int32_t end, const char* name, const char* fileName) {
  return EncodeAndStore("ADPCM", EncodeAdpcmStream, samples,
                        {offset, soundBase, start, end, name, fileName});
}
