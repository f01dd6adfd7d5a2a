#pragma once
// The group tables of an image read back: one per section with links, in section order from
// GroupStart, each a run of entries of 2 x GrpAdr + 2 bytes ending with the entry that
// carries the last-link mark. Neither GrpAdr nor Offset is stored in the image. Offset moves
// the tables (and the sound data) in the file: they lie at chip address - Offset, while the
// section entries keep the chip address; the first byte of a table is a type byte, never
// 0xFF, so the first byte that is not 0xFF from GroupStart on is the first table. GrpAdr is
// found by trying 3 (the default), then 1, 2 and 4, and taking the first under which every
// entry is consistent and every link lies inside the sound data area. The others are tried all
// the same: with few links, more than one can read every entry, and then only the script that
// set $GRPADR knows which one the tables were written with.

#include <cstdint>
#include <string>
#include <vector>

#include "image_bytes.h"
#include "section_table_scan.h"
#include "sound_kinds.h"

struct ScannedLink {
  int64_t filePos = 0;
  uint8_t typeByte = 0;
  const SoundKindInfo* kind = nullptr;
  uint8_t divider = 0;
  uint32_t rawStart = 0;  // the address fields as stored, GrpAdr bytes each
  uint32_t rawEnd = 0;    // already complemented back
  int64_t start = 0;      // chip addresses, widened past GrpAdr bytes where they were cut
  int64_t end = 0;
  int64_t length = 0;  // bytes for data kinds, samples for silence and mute
  bool flag = false;
  bool last = false;
};

// What a reader may fix instead of the detection.
struct GroupReading {
  int32_t grpAdr = 0;  // 0: detect
  bool offsetGiven = false;
  int32_t offset = 0;
};

struct GroupTableScan {
  int32_t grpAdr = 3;
  int32_t offset = 0;
  int64_t soundBase = 16;  // chip address after the last table
  // Detection only: the GrpAdr values after grpAdr in the order tried that read every entry
  // consistently as well. Empty when the reading gave GrpAdr.
  std::vector<int32_t> alsoConsistent;
  // The links of each section of the section table's scan, in the same order.
  std::vector<std::vector<ScannedLink>> links;
};

// Reads the tables of the sections the section table named. False with *problem when no
// GrpAdr (or the one of reading) gives consistent entries whose links all lie in the image.
bool ScanGroupTables(const ImageBytes& image, int32_t systemAreaStart,
                     const SectionTableScan& sections, const GroupReading& reading,
                     GroupTableScan* scan, std::string* problem);
