#pragma once
// The whole part drawn to scale as an inline SVG: the file's bytes run left to right in rows,
// like lines of text, and every region is a block of its own there: header, section entries,
// group tables, each distinct sound that has data (coloured by kind, a link to its row of the
// page), each free stretch and the system area. A block carries its address range and size as
// its <title>, which browsers show on hover without any script.

#include <cstdint>
#include <string>
#include <vector>

#include "image_map.h"

struct MapBlock {
  int64_t first = 0;  // file positions, inclusive
  int64_t last = 0;
  std::string kind;   // CSS class: header, sections, groups, sound and its kind, free, system
  std::string title;
  int soundId = 0;    // the row it links to, 0 for a region that is not a sound
};

// The blocks in file order; empty regions are left out.
std::vector<MapBlock> MapBlocks(const ImageMap& map);

std::string MemoryMapSvg(const ImageMap& map);
