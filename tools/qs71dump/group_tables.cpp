#include "group_tables.h"

#include "dump_result.h"
#include "group_entry.h"
#include "sound_kinds.h"

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
  const ImageLayout& layout;
  int32_t grpAdr;
  int32_t offset;
  std::string* problem;
};

bool ReadLink(const Walk& walk, int64_t filePos, GroupLink* link) {
  const int64_t size = GroupEntrySize(walk.grpAdr);
  if (filePos + size > walk.layout.systemAreaStart || !walk.image.Has(filePos, size)) {
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
bool ReadTable(const Walk& walk, Section* section, int64_t* filePos) {
  const int64_t chip = *filePos + walk.offset;
  if ((chip & 0xFFFFF8) != section->tableAddress) {
    *walk.problem = Format(
        "section %d names its group table at 0x%06X, but the tables before "
        "it end at 0x%06llX",
        section->number, section->tableAddress, static_cast<unsigned long long>(chip));
    return false;
  }
  section->links.clear();
  for (;;) {
    GroupLink link;
    if (!ReadLink(walk, *filePos, &link)) return false;
    section->links.push_back(link);
    *filePos += GroupEntrySize(walk.grpAdr);
    if (link.last) return true;
  }
}

bool CheckDataRange(const Walk& walk, const Section& section, int k, const GroupLink& link,
                    int64_t soundBase) {
  const int64_t first = link.start - walk.offset;
  const int64_t limit = walk.layout.systemAreaStart;
  const char* name = link.kind->statement + 1;
  if (first < soundBase - walk.offset || first + link.length > limit) {
    *walk.problem = Format(
        "section %d link %d: %s data 0x%06llX..0x%06llX lies outside the "
        "sound data area",
        section.number, k, name, static_cast<unsigned long long>(link.start),
        static_cast<unsigned long long>(link.end));
    return false;
  }
  const bool badSize = (link.kind->kind == KindPcm16 && link.length % 2 != 0) ||
                       (link.kind->kind == KindEq01 && link.length % 5 != 0);
  if (badSize) {
    *walk.problem = Format("section %d link %d: %lld bytes cannot hold %s samples", section.number,
                           k, static_cast<long long>(link.length), name);
  }
  return !badSize;
}

// Silence and mute carry the sound data base as their start and only a length.
bool CheckLink(const Walk& walk, const Section& section, int k, GroupLink* link,
               int64_t soundBase) {
  link->start = Widen(link->rawStart, soundBase, walk.grpAdr);
  link->end = Widen(link->rawEnd, link->start - 1, walk.grpAdr);
  link->length = link->end - link->start + 1;
  if (KindHasData(link->kind->kind)) return CheckDataRange(walk, section, k, *link, soundBase);
  if (link->start != soundBase) {
    *walk.problem = Format(
        "section %d link %d: a %s starts at 0x%06llX, not at the sound data "
        "base 0x%06llX",
        section.number, k, link->kind->statement + 1, static_cast<unsigned long long>(link->start),
        static_cast<unsigned long long>(soundBase));
    return false;
  }
  return true;
}

}  // namespace

bool DetectOffset(const ImageBytes& image, const ImageLayout& layout, int32_t groupStart,
                  int32_t* offset) {
  for (int64_t pos = groupStart; pos < layout.systemAreaStart; ++pos) {
    if (image.Byte(pos) != 0xFF) {
      *offset = static_cast<int32_t>(groupStart - pos);
      return true;
    }
  }
  return false;
}

int ReadGroupTables(const ImageBytes& image, const ImageLayout& layout, const SectionScan& scan,
                    int32_t grpAdr, int32_t offset, GroupTables* tables, std::string* problem) {
  const Walk walk{image, layout, grpAdr, offset, problem};
  tables->sections = scan.sections;
  int64_t filePos = static_cast<int64_t>(scan.groupStart) - offset;
  if (filePos < 0) {
    *problem = Format("with Offset %d the first group table would lie before the file", offset);
    return DumpBadGroups;
  }
  for (Section& section : tables->sections) {
    if (!ReadTable(walk, &section, &filePos)) return DumpBadGroups;
  }
  tables->soundBase = filePos + offset;
  for (Section& section : tables->sections) {
    for (size_t k = 0; k < section.links.size(); ++k) {
      if (!CheckLink(walk, section, static_cast<int>(k), &section.links[k], tables->soundBase)) {
        return DumpBadGroups;
      }
    }
  }
  return DumpOk;
}

int DetectGroupTables(const ImageBytes& image, const ImageLayout& layout, const SectionScan& scan,
                      const DumpSettings& settings, int32_t offset, GroupTables* tables,
                      int32_t* grpAdr, std::string* problem) {
  if (settings.grpAdr != 0) {
    *grpAdr = settings.grpAdr;
    return ReadGroupTables(image, layout, scan, *grpAdr, offset, tables, problem);
  }
  std::string first;
  for (int32_t candidate : kTryOrder) {
    std::string why;
    if (ReadGroupTables(image, layout, scan, candidate, offset, tables, &why) == DumpOk) {
      *grpAdr = candidate;
      return DumpOk;
    }
    if (first.empty()) first = why;
  }
  *problem = first + " (GrpAdr 3; 1, 2 and 4 read no better)";
  return DumpBadGroups;
}
