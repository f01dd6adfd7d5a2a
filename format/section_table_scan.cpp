#include "section_table_scan.h"

#include "image_layout.h"
#include "text_format.h"

namespace {

constexpr int kHighestSection = kSectionCount - 1;

struct SlotWalk {
  const ImageBytes& image;
  SectionTableScan* scan;
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
  if (entry == kEmptySectionEntry) return true;
  SectionSlot slot;
  slot.number = number;
  slot.entryPos = pos;
  slot.entry = entry;
  const std::string why = SectionEntryProblem(entry, &slot.fields);
  if (!why.empty()) {
    if (walk->scan->sections.empty() && number > 0) return false;
    *walk->problem = Format("section %d at 0x%06X: %s", number, pos, why.c_str());
    return false;
  }
  if (slot.fields.tableAddress < walk->limit) walk->limit = slot.fields.tableAddress;
  walk->scan->sections.push_back(slot);
  return true;
}

bool CheckGroupStart(const SectionTableScan& scan, int32_t systemAreaStart, std::string* problem) {
  const int32_t start = scan.groupStart;
  const int last = scan.sections.back().number;
  if (start % 16 != 0 || start < GroupStart(last) || start >= systemAreaStart) {
    *problem = Format(
        "the first group table address 0x%06X is not the multiple of 16 after "
        "the entries of sections 1 to %d",
        static_cast<unsigned>(start), last);
    return false;
  }
  return true;
}

}  // namespace

std::string SectionEntryProblem(uint32_t entry, SectionEntryFields* fields) {
  switch (DecodeSectionEntry(entry, fields)) {
    case SectionEntryFault::None:
      return "";
    case SectionEntryFault::FixedBitsMissing:
      return Format("entry %08X lacks the bits 3 to 6 that every entry holds", entry);
    case SectionEntryFault::NoSuchOption:
      return Format("entry %08X holds an option pattern no section has", entry);
  }
  return "";
}

bool ScanSectionTable(const ImageBytes& image, int32_t systemAreaStart, SectionTableScan* scan,
                      std::string* problem) {
  *scan = SectionTableScan();
  problem->clear();
  SlotWalk walk{image, scan, GroupStart(kHighestSection), problem};
  if (walk.limit > systemAreaStart) walk.limit = systemAreaStart;
  if (!ReadSlot(&walk, 0) && !problem->empty()) return false;
  for (int n = 1; n <= kHighestSection && SectionEntryPos(n) + 4 <= walk.limit; ++n) {
    if (!ReadSlot(&walk, n)) break;
  }
  if (!problem->empty()) return false;
  if (scan->sections.empty()) return true;
  scan->noSections = false;
  scan->groupStart = static_cast<int32_t>(walk.limit);
  scan->slotCount = (scan->groupStart - 16) / 4;
  return CheckGroupStart(*scan, systemAreaStart, problem);
}
