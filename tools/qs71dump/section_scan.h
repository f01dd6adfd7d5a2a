#pragma once
// The section table of an image. The image does not store how many sections the script
// declared: section 0 sits at 4, sections 1 and up from 16, and the first group table
// follows the entries at the first multiple of 16 after the last one (GroupStart). The
// first section with links always has its table at GroupStart, so the lowest table address
// among the entries is GroupStart, and the slots between 16 and it are the sections.
// Trailing empty slots cannot be told from the padding before GroupStart; an entry of all
// ones is an empty section either way. When section 0 is empty and the first entry that is
// not all ones holds bits no entry has, the image has no sections: the sound data begins at
// 16, where the slots would be.

#include <cstdint>
#include <string>
#include <vector>

#include "image_bytes.h"
#include "image_map.h"

// Flags, option and table address of one entry; false with *why for bits that no section
// entry holds (bits 3 to 6 always set, an option of 1 to 3 or bits 8 to 10 all set).
bool DecodeSectionEntry(uint32_t entry, Section* section, std::string* why);

struct SectionScan {
  std::vector<Section> sections;  // the sections with links, in number order
  int32_t groupStart = 16;
  int slotCount = 0;
  bool noSections = true;
};

// DumpOk or DumpBadSections with *problem.
int ScanSections(const ImageBytes& image, const ImageLayout& layout, SectionScan* scan,
                 std::string* problem);
