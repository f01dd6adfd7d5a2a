#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace qs71::emu {

using ChipId = std::array<uint8_t, 4>;

// The OTP array of one emulated QS71 part. Cells start erased (0xFF) except the system area,
// which holds the factory values of a good part; programming can only clear bits, as fused
// cells do. The programmer reaches the system area also through 0xFFFE00..0xFFFFFF.
class OtpChip {
 public:
  OtpChip(const ChipId& id, uint32_t size);

  const ChipId& Id() const { return id; }
  uint32_t Size() const { return static_cast<uint32_t>(cells.size()); }
  const std::vector<uint8_t>& Cells() const { return cells; }

  // Replaces the whole array, for a part kept in a file; false when the size differs.
  bool Load(const std::vector<uint8_t>& content);
  // Sets a cell outright, as the factory would; for presetting test parts.
  void Preset(uint32_t cell, uint8_t value);
  // Bits that stay set in a cell whatever is programmed (a cell that will not program).
  void SetStuckBits(uint32_t cell, uint8_t bits);

  // Whether a 24-bit programmer address reaches a cell.
  bool Maps(uint32_t address) const;
  // Erased value 0xFF for addresses that reach no cell.
  uint8_t Read(uint32_t address) const;
  // new = old AND data, less the stuck bits; false when the address reaches no cell.
  bool Program(uint32_t address, uint8_t data);

  // The cells Preset and Program changed since the changes were last forgotten, as
  // [first, end); a part kept in a file writes them through (chip_file.h) and forgets them
  // only once they are written.
  struct Span {
    uint32_t first = 0;
    uint32_t end = 0;
    bool Empty() const { return first >= end; }
  };
  const Span& Changes() const { return changed; }
  void ForgetChanges() { changed = Span(); }

 private:
  uint32_t CellOf(uint32_t address) const;
  void NoteChange(uint32_t cell);

  ChipId id;
  std::vector<uint8_t> cells;
  std::unordered_map<uint32_t, uint8_t> stuckBits;
  Span changed;
};

// The array size a part with this size code has; parts with a code the library does not know
// still need an array, and get the smallest.
uint32_t ChipSizeForCode(uint8_t sizeCode);

// Where the programmer's alias of the system area starts.
inline constexpr uint32_t kSystemAreaAlias = 0xFFFE00;
inline constexpr uint32_t kSystemAreaBytes = 512;
inline constexpr uint32_t kAddressMask = 0xFFFFFF;

}  // namespace qs71::emu
