#pragma once
// The sections of an image as the inspector shows them, from the section table that the
// image check read (format/section_table_scan.h says how the table is found).

#include <cstdint>
#include <vector>

#include "image_map.h"
#include "section_table_scan.h"

struct SectionScan {
  std::vector<Section> sections;  // the sections with links, in number order
  int32_t groupStart = 16;
  int slotCount = 0;
  bool noSections = true;
};

SectionScan SectionsOf(const SectionTableScan& table);
