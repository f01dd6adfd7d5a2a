#include "image_layout.h"

#include "wrap_math.h"

int32_t SectionEntryPos(int32_t section) {
  if (section == 0) return kSection0EntryPos;
  return WrapAdd(kSecStart, WrapMul(4, WrapSub(section, 1)));
}

int32_t GroupStart(int32_t maxSection) {
  return WrapAdd(kSecStart, WrapMul(16, WrapAdd(maxSection, 3) / 4));
}

int32_t SystemAreaStart(int32_t fileSize) { return WrapSub(fileSize, kSystemAreaSize); }

int32_t AdpcmStart(int32_t fileSize) { return WrapSub(fileSize, 256); }

int32_t OptionBase(int32_t fileSize) {
  // Rounded up with the remainder's sign taken from the dividend, as the chip tools always
  // did; for the sizes AddVolMap accepts the value is positive anyway.
  int32_t base = WrapSub(fileSize, 78);
  int32_t rest = base % 16;
  if (rest > 0) return WrapAdd(base, 16 - rest);
  return WrapSub(base, rest);
}

int32_t TagPos(int32_t fileSize) { return WrapSub(OptionBase(fileSize), 2); }

int32_t OptionStart(int32_t fileSize) { return WrapAdd(OptionBase(fileSize), 32); }

int32_t VolMapPos(int32_t fileSize) { return WrapAdd(OptionBase(fileSize), 48); }

uint32_t EncodeHeaderWord(uint32_t position, int32_t divider) {
  return (position << 8) | (static_cast<uint32_t>(divider) & 0xFF);
}

bool HeaderWordHoldsRamp(uint32_t word) { return (word >> 8) != kNoRampPosition; }
