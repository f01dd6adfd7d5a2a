#pragma once
// The encoded sound kinds as the import streams them: the tag of the listing line, the bytes n
// samples take, and the block encoder. Every encoder is a pure function of a block of samples
// and the state the sound's earlier blocks left; only ADPCM has state.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/adpcm_encoder.h"

// What a sound's encoder carries from one block to the next; a fresh one for every sound.
struct CodecState {
  AdpcmSearch adpcm;
};

// Encodes the next n samples and sets *out to the bytes they decide. Only a searching ADPCM
// encoder holds codes back, and gives them with the sound's last block (last); every other
// block encoder gives the codec's bytes of n samples.
using BlockEncoder = void (*)(CodecState* state, const int32_t* samples, size_t n, bool last,
                              std::vector<uint8_t>* out);

struct SoundCodec {
  int32_t kind;
  const char* tag;  // "<tag> Samples = ..." in the listing
  size_t (*bytes)(size_t samples);
  BlockEncoder encode;  // null for a kind whose range is only reserved (EQ01)
};

// The codec of a kind with data in the image, or null (silence, mute, a code outside 1..7).
const SoundCodec* FindCodec(int32_t kind);
