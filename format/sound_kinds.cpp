#include "sound_kinds.h"

namespace {
const SoundKindInfo kKinds[] = {
    {KindSilence, "Silence", 0x00, ".SILENCE", 1, 1}, {KindAdpcm, "Adpcm  ", 0x02, ".ADPCM", 2, 1},
    {KindPcm8, "PCM8   ", 0x01, ".PCM8", 1, 1},       {KindEq01, "Mapper ", 0x04, ".EQ01", 8, 5},
    {KindPcm16, "PCM16  ", 0x03, ".PCM16", 1, 2},     {KindUlaw, "ULAW   ", 0x05, ".ULAW", 1, 1},
    {KindMute, "Mute   ", 0x08, ".MUTE", 1, 1},
};
}  // namespace

const SoundKindInfo* FindSoundKind(int32_t kind) {
  for (const SoundKindInfo& k : kKinds) {
    if (k.kind == kind) return &k;
  }
  return nullptr;
}

const SoundKindInfo* FindSoundKindByType(uint8_t typeCode) {
  for (const SoundKindInfo& k : kKinds) {
    if (k.typeCode == typeCode) return &k;
  }
  return nullptr;
}

uint32_t KindBytesFor(const SoundKindInfo& kind, uint32_t samples) {
  return (samples + kind.unitSamples - 1) / kind.unitSamples * kind.unitBytes;
}

int64_t KindSamplesIn(const SoundKindInfo& kind, int64_t length) {
  return length / kind.unitBytes * kind.unitSamples;
}
