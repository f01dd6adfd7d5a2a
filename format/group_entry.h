#pragma once
// A group table holds one entry per link of its section: a type byte, the clock divider for
// the link's rate, then the first and the complemented last chip address of the sound, GrpAdr
// bytes each, least significant first. The last entry of a table carries the end mark.

#include <cstdint>

#include "sound_kinds.h"

constexpr int32_t kMaxGrpAdr = 4;
constexpr int kMaxGroupEntrySize = 2 + 2 * kMaxGrpAdr;

// Bits of the type byte above the kind's type code.
constexpr uint8_t kGroupTypeCodeBits = 0x0F;
constexpr uint8_t kGroupZeroBits = 0x30;  // never set by the generator
constexpr uint8_t kGroupFlagBit = 0x40;   // the link's flag, `: b` of its $GROUPS line
constexpr uint8_t kGroupLastBit = 0x80;   // the chip reads it as the end of the section's list

int32_t GroupEntrySize(int32_t grpAdr);

// Whether an exact chip address fits a group entry field of grpAdr bytes.
bool GroupAddressFits(int64_t address, int32_t grpAdr);

struct GroupEntry {
  uint8_t typeByte = 0;
  uint8_t divider = 0;
  uint32_t first = 0;  // chip addresses cut to GrpAdr bytes, the last one not complemented
  uint32_t last = 0;
};

// The GroupEntrySize(grpAdr) bytes of an entry; grpAdr must be 1 to kMaxGrpAdr.
void EncodeGroupEntry(const GroupEntry& entry, int32_t grpAdr, uint8_t* bytes);
GroupEntry DecodeGroupEntry(const uint8_t* bytes, int32_t grpAdr);

// The kind a type byte names, or null when its type code names none or a bit that is always
// clear is set.
const SoundKindInfo* GroupEntryKind(uint8_t typeByte);
