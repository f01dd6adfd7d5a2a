#pragma once
// The seven sound kinds: the code the generator's name tables keep, the 7-character label of
// the listings, the type code the chip reads from a group entry, and how many samples the chip
// plays from how many bytes of the kind's data.

#include <cstdint>

enum SoundKind : int32_t {
  KindSilence = 1,
  KindAdpcm = 2,
  KindPcm8 = 3,
  KindEq01 = 4,
  KindPcm16 = 5,
  KindUlaw = 6,
  KindMute = 7,
};

struct SoundKindInfo {
  int32_t kind;
  const char* label;      // blank-padded to 7 characters
  uint8_t typeCode;       // bits 0..3 of a group entry's type byte
  const char* statement;  // the script keyword that declares it
  // Data comes in units of unitBytes bytes holding unitSamples samples. Silence and mute store
  // their count of samples where the others store a length, so their unit is 1 and 1.
  uint32_t unitSamples;
  uint32_t unitBytes;
};

// The row of a kind, or null for a code outside 1..7.
const SoundKindInfo* FindSoundKind(int32_t kind);

// The row whose type code is typeCode, or null (used when reading an image back).
const SoundKindInfo* FindSoundKindByType(uint8_t typeCode);

// Silence and mute have a length but no data in the image.
inline bool KindHasData(int32_t kind) { return kind != KindSilence && kind != KindMute; }

// Bytes that hold samples samples: whole units, the last one padded. Wraps as the 32-bit
// sizes of the chip tools did.
uint32_t KindBytesFor(const SoundKindInfo& kind, uint32_t samples);

// Samples the chip plays from length bytes; a partial last unit plays nothing.
int64_t KindSamplesIn(const SoundKindInfo& kind, int64_t length);
