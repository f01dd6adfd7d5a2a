#include "section_scan.h"

SectionScan SectionsOf(const SectionTableScan& table) {
  SectionScan scan;
  scan.groupStart = table.groupStart;
  scan.slotCount = table.slotCount;
  scan.noSections = table.noSections;
  for (const SectionSlot& slot : table.sections) {
    Section section;
    section.number = slot.number;
    section.entryPos = slot.entryPos;
    section.entry = slot.entry;
    section.empty = false;
    section.flags = slot.fields.flags;
    section.option = slot.fields.option;
    section.tableAddress = slot.fields.tableAddress;
    scan.sections.push_back(section);
  }
  return scan;
}
