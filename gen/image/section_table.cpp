#include "image/section_table.h"

#include <cstdio>

#include "clock_divider.h"
#include "compile_state.h"
#include "image/image_file.h"
#include "image/image_layout.h"
#include "script/diagnostics.h"
#include "script/name_tables.h"
#include "script/sound_kinds.h"
#include "text_util.h"
#include "wrap_math.h"

namespace {

constexpr int32_t kNoOption = -1;
constexpr int kMaxGrpAdr = 4;

// All three pass-1 section statements name the section first; a valid number raises
// MaxSection even when the rest of the statement is then refused.
int CheckSection(int32_t n) {
  if (n < 0 || n >= kSectionCount) return ErrSectorNumber;
  if (n > g_state.MaxSection) g_state.MaxSection = n;
  return ErrNone;
}

}  // namespace

int SetSectionOption(int32_t n, int32_t e) {
  int r = CheckSection(n);
  if (r != ErrNone) return r;
  bool valid = e >= 0 && e <= 3;
  g_state.SecOption[n] = (valid && e != 0) ? e : kNoOption;
  return valid ? ErrNone : ErrOptionValue;
}

int SetSectionFlag(int32_t n, int bit, const char* literal) {
  int r = CheckSection(n);
  if (r != ErrNone) return r;
  if (bit < 0 || bit > 7 || literal == nullptr) return ErrInternal;
  const int32_t mask = 1 << bit;
  if (EqualsNoCase(literal, "\"Yes\"")) {
    g_state.SecFlags[n] |= mask;
  } else if (EqualsNoCase(literal, "\"No\"")) {
    g_state.SecFlags[n] &= ~mask;
  } else {
    return ErrYesNo;
  }
  return ErrNone;
}

int CountGroupLink(int32_t n, const char* name) {
  int r = CheckSection(n);
  if (r != ErrNone) return r;
  if (name == nullptr || FindSound(name) == nullptr) return ErrGroupUndefined;
  g_state.SecGroups[n] = WrapAdd(g_state.SecGroups[n], 1);
  return ErrNone;
}

// Bits 3 to 6 are always set; bits 8 to 10 hold the option, all three set for none; bits 11
// up hold the group table's address without its three low bits. A section without links gets
// an all-ones entry, which the chip treats as empty.
uint32_t SectionEntry(int32_t secBase, int32_t flags, int32_t option, int32_t groups) {
  if (groups == 0) return 0xFFFFFFFFu;
  uint32_t entry = (static_cast<uint32_t>(secBase) << 8) & ~0x7FFu;
  entry |= static_cast<uint32_t>(flags) | 0x78u;
  if (option == kNoOption) entry |= 0x700u;
  else entry |= (static_cast<uint32_t>(option) << 9) & 0x600u;
  return entry;
}

int32_t GroupEntrySize(int32_t grpAdr) { return WrapAdd(WrapMul(2, grpAdr), 2); }

// Bits 11 to 31 of the entry carry address bits 3 to 23: the chip finds group tables in the
// first 16 MiB only, whatever GrpAdr is.
bool SectionEntryHolds(int64_t tableAddress) {
  return tableAddress >= 0 && tableAddress <= 0xFFFFFF;
}

bool GroupAddressFits(int64_t address, int32_t grpAdr) {
  if (grpAdr < 1 || grpAdr > kMaxGrpAdr) return false;
  return address >= 0 && address < (int64_t{1} << (8 * grpAdr));
}

namespace {

void PrintSectionLine(int32_t i) {
  const int32_t flags = g_state.SecFlags[i];
  std::printf("<Sectin %04d> ", i);
  std::printf("%s, ", (flags & 0x01) ? "Edge  " : "Level  ");
  std::printf("%s, ", (flags & 0x02) ? "Hold  " : "UnHold ");
  std::printf("%s, ", (flags & 0x04) ? "Retrg " : "NonRtg ");
  std::printf("%s, ", (flags & 0x80) ? "StopEn" : "StopDis");
}

}  // namespace

// SecBase keeps the wrapping arithmetic of the script; tableAddress follows the same sum
// exactly, so that a table pushed past the entry's reach cannot wrap back into it unseen.
int WriteSectionTable() {
  CompileState& s = g_state;
  if (s.MaxSection < 0 || s.MaxSection >= kSectionCount) return ErrInternal;
  const int32_t entrySize = GroupEntrySize(s.GrpAdr);
  s.SecBase[0] = GroupStart(s.MaxSection);
  int64_t tableAddress = s.SecBase[0];
  for (int32_t i = 0; i <= s.MaxSection; ++i) {
    if (i >= 1) {
      s.SecBase[i] = WrapAdd(s.SecBase[i - 1], WrapMul(entrySize, s.SecGroups[i - 1]));
      tableAddress += int64_t{entrySize} * s.SecGroups[i - 1];
    }
    PrintSectionLine(i);
    s.SoundBase = WrapAdd(s.SecBase[i], WrapMul(entrySize, s.SecGroups[i]));
    std::printf("Groups = %d\n", s.SecGroups[i]);
    if (s.SecGroups[i] != 0 && !SectionEntryHolds(tableAddress)) return ErrGroupTableAddress;
    uint32_t entry = SectionEntry(s.SecBase[i], s.SecFlags[i], s.SecOption[i], s.SecGroups[i]);
    int r = ImageWriteWordAt(SectionEntryPos(i), entry);
    if (r != ErrNone) return r;
  }
  return ImageFlush();
}

namespace {

// Group entry: type byte, divider byte, then the first and the complemented last chip address
// of the sound, GrpAdr bytes each, least significant first.
int WriteGroupEntry(int32_t position, uint8_t type, int32_t divider, const SoundDef& sound) {
  const int32_t grpAdr = g_state.GrpAdr;
  if (grpAdr < 1 || grpAdr > kMaxGrpAdr) return ErrGrpAdr;
  const uint32_t first = static_cast<uint32_t>(WrapAdd(g_state.SoundBase, sound.start));
  const uint32_t last = ~static_cast<uint32_t>(WrapAdd(g_state.SoundBase, sound.end));
  uint8_t bytes[2 + 2 * kMaxGrpAdr];
  bytes[0] = type;
  bytes[1] = static_cast<uint8_t>(static_cast<uint32_t>(divider));
  for (int32_t k = 0; k < grpAdr; ++k) {
    bytes[2 + k] = static_cast<uint8_t>(first >> (8 * k));
    bytes[2 + grpAdr + k] = static_cast<uint8_t>(last >> (8 * k));
  }
  int r = ImageWriteAt(position, bytes, static_cast<size_t>(2 + 2 * grpAdr));
  return r != ErrNone ? r : ImageFlush();
}

// A field that wrapped would send the chip into another sound, or play a silence for another
// length. The last address is stored complemented, which fits exactly when the address does.
int CheckLinkAddresses(const SoundDef& sound, int32_t grpAdr) {
  const int64_t first = int64_t{g_state.SoundBase} + sound.start;
  const int64_t last = int64_t{g_state.SoundBase} + sound.end;
  if (!GroupAddressFits(first, grpAdr)) return ErrSoundAddress;
  if (GroupAddressFits(last, grpAdr)) return ErrNone;
  return KindHasData(sound.kind) ? ErrSoundAddress : ErrLinkLength;
}

}  // namespace

// The listing shows the type byte before the link's flag (bit 6) is applied; the chip reads
// bit 7 as the end of the section's list.
int LinkGroup(int32_t n, const char* name, int32_t a, int32_t b) {
  CompileState& s = g_state;
  const SoundDef* sound = name == nullptr ? nullptr : FindSound(name);
  if (sound == nullptr) return ErrGroupUndefined;
  const SoundKindInfo* kind = FindSoundKind(sound->kind);
  if (kind == nullptr || n < 0 || n >= kSectionCount) return ErrInternal;
  if (s.GrpAdr < 1 || s.GrpAdr > kMaxGrpAdr) return ErrGrpAdr;
  int32_t divider = 0;
  if (!ClockDivider(s.MainClk, a, &divider)) return ErrGroupRate;
  const int32_t k = s.SecLinked[n];
  const int32_t position =
      WrapSub(WrapAdd(s.SecBase[n], WrapMul(k, GroupEntrySize(s.GrpAdr))), s.Offset);
  s.SecLinked[n] = WrapAdd(k, 1);
  uint8_t type = kind->typeCode;
  const bool last = s.SecLinked[n] == s.SecGroups[n];
  if (last) type |= 0x80;
  std::printf("Section[%3d]: Link %s %-9s (%02X%s)\n", n, kind->label, sound->name.c_str(),
              static_cast<unsigned>(type), last ? "*" : " ");
  if (b != 0) type |= 0x40;
  int r = CheckLinkAddresses(*sound, s.GrpAdr);
  return r != ErrNone ? r : WriteGroupEntry(position, type, divider, *sound);
}
