#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "file_contents.h"
#include "wav_writer.h"

#include "writer_library.h"

namespace qs71::test {

// The system area a fresh emulated part carries, read back after a call that selects nothing.
std::vector<uint8_t> FreshSystemArea(const WriterLibrary& library);

// An image a fresh part accepts: seeded pseudo-random bytes in the main area and in the
// tables at the start of the system area, and the part's own system area after masking
// everywhere from option byte 78 on, as qs71gen lays it out.
std::vector<uint8_t> ValidImage(uint32_t size, const std::vector<uint8_t>& chipSystemArea,
                                uint32_t seed);

// What a fused array holds after the image was programmed into the fresh part: cells only
// lose bits, so each cell is the part's own value AND the image's.
std::vector<uint8_t> Programmed(uint32_t size, const std::vector<uint8_t>& chipSystemArea,
                                const std::vector<uint8_t>& image);

using testwav::WriteFile;

}  // namespace qs71::test
