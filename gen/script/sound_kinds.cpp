#include "script/sound_kinds.h"

namespace {
const SoundKindInfo kKinds[] = {
    {KindSilence, "Silence", 0x00, ".SILENCE"}, {KindAdpcm, "Adpcm  ", 0x02, ".ADPCM"},
    {KindPcm8, "PCM8   ", 0x01, ".PCM8"},       {KindEq01, "Mapper ", 0x04, ".EQ01"},
    {KindPcm16, "PCM16  ", 0x03, ".PCM16"},     {KindUlaw, "ULAW   ", 0x05, ".ULAW"},
    {KindMute, "Mute   ", 0x08, ".MUTE"},
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
