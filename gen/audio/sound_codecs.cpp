#include "audio/sound_codecs.h"

#include "audio/pcm_encoders.h"
#include "sound_kinds.h"

namespace {

size_t OneBytePerSample(size_t n) { return n; }

size_t TwoBytesPerSample(size_t n) { return 2 * n; }

// The chip's EQ01 encoder was never enabled: the image reserves the range and leaves it as it is.
size_t NothingWritten(size_t) { return 0; }

// The encoders without state write a block's bytes in one go.
template <size_t (*Bytes)(size_t), void (*Encode)(const int32_t*, size_t, uint8_t*)>
void Stateless(CodecState*, const int32_t* samples, size_t n, bool, std::vector<uint8_t>* out) {
  out->resize(Bytes(n));
  Encode(samples, n, out->data());
}

const SoundCodec kCodecs[] = {
    {KindAdpcm, "ADPCM", AdpcmBytes,
     [](CodecState* s, const int32_t* samples, size_t n, bool last, std::vector<uint8_t>* out) {
       SearchAdpcmBlock(&s->adpcm, samples, n, last, out);
     }},
    {KindPcm8, "PCM8 ", OneBytePerSample, Stateless<OneBytePerSample, EncodePcm8Block>},
    {KindEq01, "", NothingWritten, nullptr},
    {KindPcm16, "PCM16", TwoBytesPerSample, Stateless<TwoBytesPerSample, EncodePcm16Block>},
    {KindUlaw, "u-law", OneBytePerSample, Stateless<OneBytePerSample, EncodeUlawBlock>},
};

}  // namespace

const SoundCodec* FindCodec(int32_t kind) {
  for (const SoundCodec& c : kCodecs) {
    if (c.kind == kind) return &c;
  }
  return nullptr;
}
