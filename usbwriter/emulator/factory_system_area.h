#pragma once

#include <array>
#include <cstdint>

namespace qs71::emu {

using FactoryBlock = std::array<uint8_t, 512>;

// The system area of a fresh, good part as it leaves the factory: tag, trims and an unused
// marker, everything else erased. Trims sit where the library masks them, so a blank part
// passes the blank check, and every trim is one a good part may carry.
FactoryBlock FactorySystemArea();

}  // namespace qs71::emu
