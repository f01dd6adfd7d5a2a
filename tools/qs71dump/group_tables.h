#pragma once
// The group tables: one per section with links, in section order from GroupStart, each a run
// of entries of 2 x GrpAdr + 2 bytes ending with the entry that carries the last-link mark.
// Neither GrpAdr nor Offset is stored in the image. Offset moves the tables (and the sound
// data) in the file: they lie at chip address - Offset, while the section entries keep the
// chip address; the first byte of a table is a type byte, never 0xFF, so the first byte
// that is not 0xFF from GroupStart on is the first table. GrpAdr is found by trying 3 (the
// default), then 1, 2 and 4, and taking the first under which every entry is consistent.

#include <cstdint>
#include <string>
#include <vector>

#include "image_bytes.h"
#include "image_map.h"
#include "section_scan.h"

// Offset from where the first table lies in the file; false when no byte after GroupStart
// (before the system area) could start one.
bool DetectOffset(const ImageBytes& image, const ImageLayout& layout, int32_t groupStart,
                  int32_t* offset);

struct GroupTables {
  std::vector<Section> sections;  // the scan's sections with their links filled in
  int64_t soundBase = 0;          // chip address after the last table
};

// Reads and checks the tables under one GrpAdr and Offset. DumpOk or DumpBadGroups.
int ReadGroupTables(const ImageBytes& image, const ImageLayout& layout, const SectionScan& scan,
                    int32_t grpAdr, int32_t offset, GroupTables* tables, std::string* problem);

// The GrpAdr of settings, or the first of 3, 1, 2, 4 that reads consistently.
int DetectGroupTables(const ImageBytes& image, const ImageLayout& layout, const SectionScan& scan,
                      const DumpSettings& settings, int32_t offset, GroupTables* tables,
                      int32_t* grpAdr, std::string* problem);
