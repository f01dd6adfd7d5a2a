#include "group_entry.h"

#include "byte_order.h"
#include "wrap_math.h"

int32_t GroupEntrySize(int32_t grpAdr) { return WrapAdd(WrapMul(2, grpAdr), 2); }

bool GroupAddressFits(int64_t address, int32_t grpAdr) {
  if (grpAdr < 1 || grpAdr > kMaxGrpAdr) return false;
  return address >= 0 && address < (int64_t{1} << (8 * grpAdr));
}

// The last address is stored complemented, which fits GrpAdr bytes exactly when the address
// does.
void EncodeGroupEntry(const GroupEntry& entry, int32_t grpAdr, uint8_t* bytes) {
  bytes[0] = entry.typeByte;
  bytes[1] = entry.divider;
  PutLittleEndian(bytes + 2, entry.first, grpAdr);
  PutLittleEndian(bytes + 2 + grpAdr, ~entry.last, grpAdr);
}

GroupEntry DecodeGroupEntry(const uint8_t* bytes, int32_t grpAdr) {
  const uint32_t mask = grpAdr == 4 ? 0xFFFFFFFFu : (1u << (8 * grpAdr)) - 1;
  GroupEntry entry;
  entry.typeByte = bytes[0];
  entry.divider = bytes[1];
  entry.first = GetLittleEndian(bytes + 2, grpAdr);
  entry.last = ~GetLittleEndian(bytes + 2 + grpAdr, grpAdr) & mask;
  return entry;
}

const SoundKindInfo* GroupEntryKind(uint8_t typeByte) {
  if ((typeByte & kGroupZeroBits) != 0) return nullptr;
  return FindSoundKindByType(typeByte & kGroupTypeCodeBits);
}
