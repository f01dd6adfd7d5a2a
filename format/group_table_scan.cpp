#include "group_table_scan.h"

#include "group_entry.h"
#include "text_format.h"

namespace {

constexpr int32_t kTryOrder[] = {3, 1, 2, 4};

// Chip addresses are cut to GrpAdr bytes; a table entry's address is taken as the first
// address at or after `from` that has the stored low bytes.
int64_t Widen(uint32_t stored, int64_t from, int32_t grpAdr) {
  const int64_t span = int64_t{1} << (8 * grpAdr);
  int64_t distance = (static_cast<int64_t>(stored) - from) % span;
  if (distance < 0) distance += span;
  return from + distance;
}

struct Walk {
  const ImageBytes& image;
  int32_t systemAreaStart;
  int32_t grpAdr;
  int32_t offset;
  std::string* problem;
};

bool ReadLink(const Walk& walk, int64_t filePos, ScannedLink* link) {
  const int64_t size = GroupEntrySize(walk.grpAdr);
  if (filePos + size > walk.systemAreaStart || !walk.image.Has(filePos, size)) {
    *walk.problem = Format("group entry at 0x%06llX runs into the system area",
                           static_cast<unsigned long long>(filePos));
    return false;
  }
  const GroupEntry entry = DecodeGroupEntry(walk.image.At(filePos), walk.grpAdr);
  link->filePos = filePos;
  link->typeByte = entry.typeByte;
  link->divider = entry.divider;
  link->rawStart = entry.first;
  link->rawEnd = entry.last;
  link->flag = (entry.typeByte & kGroupFlagBit) != 0;
  link->last = (entry.typeByte & kGroupLastBit) != 0;
  link->kind = GroupEntryKind(entry.typeByte);
  if (link->kind == nullptr) {
    *walk.problem = Format(
        "group entry at 0x%06llX has the type byte %02X, which names no "
        "sound type",
        static_cast<unsigned long long>(filePos), link->typeByte);
    return false;
  }
  return true;
}

// A section's table from *filePos up to its last-link mark.
bool ReadTable(const Walk& walk, const SectionSlot& section, std::vector<ScannedLink>* links,
               int64_t* filePos) {
  const int64_t chip = *filePos + walk.offset;
  if ((chip & 0xFFFFF8) != section.fields.tableAddress) {
    *walk.problem = Format(
        "section %d names its group table at 0x%06X, but the tables before "
        "it end at 0x%06llX",
        section.number, section.fields.tableAddress, static_cast<unsigned long long>(chip));
    return false;
  }
  links->clear();
  for (;;) {
    ScannedLink link;
    if (!ReadLink(walk, *filePos, &link)) return false;
    links->push_back(link);
    *filePos += GroupEntrySize(walk.grpAdr);
    if (link.last) return true;
  }
}

bool CheckDataRange(const Walk& walk, int section, int k, const ScannedLink& link,
                    int64_t soundBase) {
  const int64_t first = link.start - walk.offset;
  const int64_t limit = walk.systemAreaStart;
  const char* name = link.kind->statement + 1;
  if (first < soundBase - walk.offset || first + link.length > limit) {
    *walk.problem = Format(
        "section %d link %d: %s data 0x%06llX..0x%06llX lies outside the "
        "sound data area",
        section, k, name, static_cast<unsigned long long>(link.start),
        static_cast<unsigned long long>(link.end));
    return false;
  }
  const bool badSize = (link.kind->kind == KindPcm16 && link.length % 2 != 0) ||
                       (link.kind->kind == KindEq01 && link.length % 5 != 0);
  if (badSize) {
    *walk.problem = Format("section %d link %d: %lld bytes cannot hold %s samples", section, k,
                           static_cast<long long>(link.length), name);
  }
  return !badSize;
}

// Silence and mute carry the sound data base as their start and only a length.
bool CheckLink(const Walk& walk, int section, int k, ScannedLink* link, int64_t soundBase) {
  link->start = Widen(link->rawStart, soundBase, walk.grpAdr);
  link->end = Widen(link->rawEnd, link->start - 1, walk.grpAdr);
  link->length = link->end - link->start + 1;
  if (KindHasData(link->kind->kind)) return CheckDataRange(walk, section, k, *link, soundBase);
  if (link->start != soundBase) {
    *walk.problem = Format(
        "section %d link %d: a %s starts at 0x%06llX, not at the sound data "
        "base 0x%06llX",
        section, k, link->kind->statement + 1, static_cast<unsigned long long>(link->start),
        static_cast<unsigned long long>(soundBase));
    return false;
  }
  return true;
}

// The first byte that is not 0xFF from GroupStart on starts the first table.
bool DetectOffset(const ImageBytes& image, int32_t systemAreaStart, int32_t groupStart,
                  int32_t* offset) {
  for (int64_t pos = groupStart; pos < systemAreaStart; ++pos) {
    if (image.Byte(pos) != 0xFF) {
      *offset = static_cast<int32_t>(groupStart - pos);
      return true;
    }
  }
  return false;
}

// The tables under one GrpAdr and Offset.
bool ReadGroupTables(const Walk& walk, const SectionTableScan& sections, GroupTableScan* scan) {
  scan->links.assign(sections.sections.size(), {});
  int64_t filePos = static_cast<int64_t>(sections.groupStart) - walk.offset;
  if (filePos < 0) {
    *walk.problem =
        Format("with Offset %d the first group table would lie before the file", walk.offset);
    return false;
  }
  for (size_t i = 0; i < sections.sections.size(); ++i) {
    if (!ReadTable(walk, sections.sections[i], &scan->links[i], &filePos)) return false;
  }
  scan->soundBase = filePos + walk.offset;
  for (size_t i = 0; i < sections.sections.size(); ++i) {
    std::vector<ScannedLink>& links = scan->links[i];
    for (size_t k = 0; k < links.size(); ++k) {
      if (!CheckLink(walk, sections.sections[i].number, static_cast<int>(k), &links[k],
                     scan->soundBase)) {
        return false;
      }
    }
  }
  return true;
}

// Tries every GrpAdr in turn and reads the tables with the first that fits; the ones after it
// that fit too are only noted, since the image cannot tell them apart.
bool DetectGrpAdr(const ImageBytes& image, int32_t systemAreaStart,
                  const SectionTableScan& sections, GroupTableScan* scan, std::string* problem) {
  std::string first;
  GroupTableScan other;
  bool found = false;
  for (int32_t candidate : kTryOrder) {
    std::string why;
    GroupTableScan* into = found ? &other : scan;
    if (!ReadGroupTables({image, systemAreaStart, candidate, scan->offset, &why}, sections, into)) {
      if (first.empty()) first = why;
      continue;
    }
    if (found) scan->alsoConsistent.push_back(candidate);
    else scan->grpAdr = candidate;
    found = true;
  }
  if (!found) *problem = first + " (GrpAdr 3; 1, 2 and 4 read no better)";
  return found;
}

}  // namespace

bool ScanGroupTables(const ImageBytes& image, int32_t systemAreaStart,
                     const SectionTableScan& sections, const GroupReading& reading,
                     GroupTableScan* scan, std::string* problem) {
  *scan = GroupTableScan();
  problem->clear();
  scan->grpAdr = reading.grpAdr != 0 ? reading.grpAdr : 3;
  scan->offset = reading.offset;
  scan->soundBase = sections.groupStart;
  if (sections.noSections) return true;
  if (!reading.offsetGiven &&
      !DetectOffset(image, systemAreaStart, sections.groupStart, &scan->offset)) {
    *problem = Format("no group table after the section entries (GroupStart 0x%06X)",
                      static_cast<unsigned>(sections.groupStart));
    return false;
  }
  if (reading.grpAdr != 0) {
    return ReadGroupTables({image, systemAreaStart, reading.grpAdr, scan->offset, problem},
                           sections, scan);
  }
  return DetectGrpAdr(image, systemAreaStart, sections, scan, problem);
}
