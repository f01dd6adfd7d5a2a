#include "section_scan.h"

#include "dump_result.h"
#include "image_layout.h"
#include "section_entry.h"

namespace {

constexpr int kHighestSection = kSectionCount - 1;

}  // namespace

bool DecodeSectionEntry(uint32_t entry, Section* section, std::string* why) {
  section->entry = entry;
  section->empty = entry == kEmptySectionEntry;
  if (section->empty) return true;
  SectionEntryFields fields;
  switch (DecodeSectionEntry(entry, &fields)) {
    case SectionEntryFault::None: break;
    case SectionEntryFault::FixedBitsMissing:
      *why = Format("entry %08X lacks the bits 3 to 6 that every entry holds", entry);
      return false;
    case SectionEntryFault::NoSuchOption:
      *why = Format("entry %08X holds an option pattern no section has", entry);
      return false;
  }
  section->flags = fields.flags;
  section->option = fields.option;
  section->tableAddress = fields.tableAddress;
  return true;
}

namespace {

struct SlotWalk {
  const ImageBytes& image;
  SectionScan* scan;
  int64_t limit;  // file position where the group tables begin, as far as known
  std::string* problem;
};

// One slot. False stops the walk: with *problem set for a bad entry, without it when no
// section came before the bad entry. An image without sections has its sound data from 16
// on, where the slots would be; the first of its bytes that is not 0xFF reads as an entry
// that no section has, and everything before it was empty.
bool ReadSlot(SlotWalk* walk, int number) {
  const int32_t pos = SectionEntryPos(number);
  uint32_t entry = kEmptySectionEntry;
  if (!walk->image.ReadLe(pos, 4, &entry)) return false;
  Section section;
  section.number = number;
  section.entryPos = pos;
  std::string why;
  if (!DecodeSectionEntry(entry, &section, &why)) {
    if (walk->scan->sections.empty() && number > 0) return false;
    *walk->problem = Format("section %d at 0x%06X: %s", number, pos, why.c_str());
    return false;
  }
  if (section.empty) return true;
  if (section.tableAddress < walk->limit) walk->limit = section.tableAddress;
  walk->scan->sections.push_back(section);
  return true;
}

int CheckGroupStart(const SectionScan& scan, const ImageLayout& layout, std::string* problem) {
  const int32_t start = scan.groupStart;
  const int last = scan.sections.back().number;
  if (start % 16 != 0 || start < GroupStart(last) || start >= layout.systemAreaStart) {
    *problem = Format(
        "the first group table address 0x%06X is not the multiple of 16 after "
        "the entries of sections 1 to %d",
        static_cast<unsigned>(start), last);
    return DumpBadSections;
  }
  return DumpOk;
}

}  // namespace

int ScanSections(const ImageBytes& image, const ImageLayout& layout, SectionScan* scan,
                 std::string* problem) {
  *scan = SectionScan();
  SlotWalk walk{image, scan, GroupStart(kHighestSection), problem};
  if (walk.limit > layout.systemAreaStart) walk.limit = layout.systemAreaStart;
  problem->clear();
  if (!ReadSlot(&walk, 0) && !problem->empty()) return DumpBadSections;
  for (int n = 1; n <= kHighestSection && SectionEntryPos(n) + 4 <= walk.limit; ++n) {
    if (!ReadSlot(&walk, n)) break;
  }
  if (!problem->empty()) return DumpBadSections;
  if (scan->sections.empty()) return DumpOk;
  scan->noSections = false;
  scan->groupStart = static_cast<int32_t>(walk.limit);
  scan->slotCount = (scan->groupStart - 16) / 4;
  return CheckGroupStart(*scan, layout, problem);
}
