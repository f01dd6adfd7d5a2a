#include "audio/sound_codecs.h"

#include "audio/pcm_encoders.h"
#include "audio/ulaw_encoder.h"
#include "sound_kinds.h"

namespace {

size_t OneBytePerSample(size_t n) { return n; }

size_t TwoBytesPerSample(size_t n) { return 2 * n; }

// The chip's EQ01 encoder was never enabled: the image reserves the range and leaves it as it is.
size_t NothingWritten(size_t) { return 0; }

const SoundCodec kCodecs[] = {
    {KindAdpcm, "ADPCM", AdpcmBytes,
     [](CodecState* s, const int32_t* samples, size_t n, uint8_t* out) {
       EncodeAdpcmBlock(&s->adpcm, samples, n, out);
     }},
    {KindPcm8, "PCM8 ", OneBytePerSample,
     [](CodecState*, const int32_t* samples, size_t n, uint8_t* out) { EncodePcm8Block(samples, n, out); }},
    {KindEq01, "", NothingWritten, nullptr},
    {KindPcm16, "PCM16", TwoBytesPerSample,
     [](CodecState*, const int32_t* samples, size_t n, uint8_t* out) { EncodePcm16Block(samples, n, out); }},
    {KindUlaw, "u-law", OneBytePerSample,
     [](CodecState*, const int32_t* samples, size_t n, uint8_t* out) { EncodeUlawBlock(samples, n, out); }},
};

}  // namespace

const SoundCodec* FindCodec(int32_t kind) {
  for (const SoundCodec& c : kCodecs) {
    if (c.kind == kind) return &c;
  }
  return nullptr;
}
