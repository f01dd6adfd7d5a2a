#include "image/section_table.h"

#include <cstdio>

#include "ascii_case.h"
#include "clock_divider.h"
#include "compile_state.h"
#include "group_entry.h"
#include "image/image_file.h"
#include "image_layout.h"
#include "name_tables.h"
#include "result_codes.h"
#include "section_entry.h"
#include "sound_kinds.h"
#include "wrap_math.h"

namespace {

// All three pass-1 section statements name the section first; a valid number raises
// MaxSection even when the rest of the statement is then refused.
int CheckSection(CompileState& s, int32_t n) {
  if (n < 0 || n >= kSectionCount) return ErrSectorNumber;
  if (n > s.MaxSection) s.MaxSection = n;
  return ErrNone;
}

}  // namespace

int SetSectionOption(CompileState& s, int32_t n, int32_t e) {
  int r = CheckSection(s, n);
  if (r != ErrNone) return r;
  bool valid = e >= 0 && e <= 3;
  s.SecOption[n] = (valid && e != 0) ? e : kNoOption;
  return valid ? ErrNone : ErrOptionValue;
}

int SetSectionFlag(CompileState& s, int32_t n, int bit, const char* literal) {
  int r = CheckSection(s, n);
  if (r != ErrNone) return r;
  if (bit < 0 || bit > 7 || literal == nullptr) return ErrInternal;
  const int32_t mask = 1 << bit;
  if (EqualsNoCase(literal, "\"Yes\"")) {
    s.SecFlags[n] |= mask;
  } else if (EqualsNoCase(literal, "\"No\"")) {
    s.SecFlags[n] &= ~mask;
  } else {
    return ErrYesNo;
  }
  return ErrNone;
}

int CountGroupLink(CompileState& s, int32_t n, const char* name) {
  int r = CheckSection(s, n);
  if (r != ErrNone) return r;
  if (name == nullptr || FindSound(s, name) == nullptr) return ErrGroupUndefined;
  s.SecGroups[n] = WrapAdd(s.SecGroups[n], 1);
  return ErrNone;
}

namespace {

void PrintSectionLine(CompileState& s, int32_t i) {
  const int32_t flags = s.SecFlags[i];
  std::fprintf(s.Out, "<Sectin %04d> ", i);
  std::fprintf(s.Out, "%s, ", SectionHasFlag(flags, kSectionEdgeBit) ? "Edge  " : "Level  ");
  std::fprintf(s.Out, "%s, ", SectionHasFlag(flags, kSectionHoldBit) ? "Hold  " : "UnHold ");
  std::fprintf(s.Out, "%s, ", SectionHasFlag(flags, kSectionRetriggerBit) ? "Retrg " : "NonRtg ");
  std::fprintf(s.Out, "%s, ", SectionHasFlag(flags, kSectionStopEnableBit) ? "StopEn" : "StopDis");
}

}  // namespace

// SecBase keeps the wrapping arithmetic of the script; tableAddress follows the same sum
// exactly, so that a table pushed past the entry's reach cannot wrap back into it unseen.
int WriteSectionTable(CompileState& s) {
  if (s.MaxSection < 0 || s.MaxSection >= kSectionCount) return ErrInternal;
  const int32_t entrySize = GroupEntrySize(s.GrpAdr);
  s.SecBase[0] = GroupStart(s.MaxSection);
  int64_t tableAddress = s.SecBase[0];
  for (int32_t i = 0; i <= s.MaxSection; ++i) {
    if (i >= 1) {
      s.SecBase[i] = WrapAdd(s.SecBase[i - 1], WrapMul(entrySize, s.SecGroups[i - 1]));
      tableAddress += int64_t{entrySize} * s.SecGroups[i - 1];
    }
    PrintSectionLine(s, i);
    s.SoundBase = WrapAdd(s.SecBase[i], WrapMul(entrySize, s.SecGroups[i]));
    std::fprintf(s.Out, "Groups = %d\n", s.SecGroups[i]);
    if (s.SecGroups[i] != 0 && !SectionEntryHolds(tableAddress)) return ErrGroupTableAddress;
    uint32_t entry = SectionEntry(s.SecBase[i], s.SecFlags[i], s.SecOption[i], s.SecGroups[i]);
    int r = ImageWriteWordAt(ImageOf(s), SectionEntryPos(i), entry);
    if (r != ErrNone) return r;
  }
  return ImageFlush(ImageOf(s));
}

namespace {

int WriteGroupEntry(CompileState& s, int32_t position, uint8_t type, int32_t divider,
                    const SoundDef& sound) {
  const int32_t grpAdr = s.GrpAdr;
  if (grpAdr < 1 || grpAdr > kMaxGrpAdr) return ErrGrpAdr;
  GroupEntry entry;
  entry.typeByte = type;
  entry.divider = static_cast<uint8_t>(static_cast<uint32_t>(divider));
  entry.first = static_cast<uint32_t>(WrapAdd(s.SoundBase, sound.start));
  entry.last = static_cast<uint32_t>(WrapAdd(s.SoundBase, sound.end));
  uint8_t bytes[kMaxGroupEntrySize];
  EncodeGroupEntry(entry, grpAdr, bytes);
  int r = ImageWriteAt(ImageOf(s), position, bytes, static_cast<size_t>(GroupEntrySize(grpAdr)));
  return r != ErrNone ? r : ImageFlush(ImageOf(s));
}

// A field that wrapped would send the chip into another sound, or play a silence for another
// length.
int CheckLinkAddresses(CompileState& s, const SoundDef& sound, int32_t grpAdr) {
  const int64_t first = int64_t{s.SoundBase} + sound.start;
  const int64_t last = int64_t{s.SoundBase} + sound.end;
  if (!GroupAddressFits(first, grpAdr)) return ErrSoundAddress;
  if (GroupAddressFits(last, grpAdr)) return ErrNone;
  return KindHasData(sound.kind) ? ErrSoundAddress : ErrLinkLength;
}

}  // namespace

// The listing shows the type byte with the end mark but before the link's flag is applied.
int LinkGroup(CompileState& s, int32_t n, const char* name, int32_t a, int32_t b) {
  const SoundDef* sound = name == nullptr ? nullptr : FindSound(s, name);
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
  if (last) type |= kGroupLastBit;
  std::fprintf(s.Out, "Section[%3d]: Link %s %-9s (%02X%s)\n", n, kind->label, sound->name.c_str(),
              static_cast<unsigned>(type), last ? "*" : " ");
  if (b != 0) type |= kGroupFlagBit;
  int r = CheckLinkAddresses(s, *sound, s.GrpAdr);
  return r != ErrNone ? r : WriteGroupEntry(s, position, type, divider, *sound);
}
