#pragma once
// The section table of an image read back. The image does not store how many sections the
// script declared: section 0 sits at 4, sections 1 and up from 16, and the first group table
// follows the entries at the first multiple of 16 after the last one (GroupStart). The first
// section with links always has its table at GroupStart, so the lowest table address among
// the entries is GroupStart, and the slots between 16 and it are the sections. Trailing
// empty slots cannot be told from the padding before GroupStart; an entry of all ones is an
// empty section either way. When section 0 is empty and the first entry that is not all ones
// holds bits no entry has, the image has no sections: the sound data begins at 16, where the
// slots would be.

#include <cstdint>
#include <string>
#include <vector>

#include "image_bytes.h"
#include "section_entry.h"

// A slot whose entry is not all ones.
struct SectionSlot {
  int number = 0;
  int32_t entryPos = 0;
  uint32_t entry = kEmptySectionEntry;
  SectionEntryFields fields;
};

struct SectionTableScan {
  std::vector<SectionSlot> sections;  // the sections with links, in number order
  int32_t groupStart = 16;
  int slotCount = 0;  // slots 1..slotCount lie between 16 and GroupStart
  bool noSections = true;
};

// Empty when the entry decodes into *fields, else why no section entry looks like it.
// The caller has already set aside the empty entry.
std::string SectionEntryProblem(uint32_t entry, SectionEntryFields* fields);

// False with *problem when the entries cannot be those of an image whose system area begins
// at systemAreaStart.
bool ScanSectionTable(const ImageBytes& image, int32_t systemAreaStart, SectionTableScan* scan,
                      std::string* problem);
