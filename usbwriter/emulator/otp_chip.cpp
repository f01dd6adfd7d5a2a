#include "otp_chip.h"

#include <algorithm>

#include "factory_system_area.h"

namespace qs71::emu {

namespace {

constexpr uint32_t kNoCell = 0xFFFFFFFF;

}  // namespace

OtpChip::OtpChip(const ChipId& chipId, uint32_t size) : id(chipId), cells(size, 0xFF) {
  const FactoryBlock factory = FactorySystemArea();
  std::copy(factory.begin(), factory.end(), cells.end() - kSystemAreaBytes);
}

bool OtpChip::Load(const std::vector<uint8_t>& content) {
  if (content.size() != cells.size()) return false;
  cells = content;
  changed = Span();
  return true;
}

void OtpChip::Preset(uint32_t cell, uint8_t value) {
  if (cell >= cells.size() || cells[cell] == value) return;
  cells[cell] = value;
  NoteChange(cell);
}

void OtpChip::NoteChange(uint32_t cell) {
  if (changed.Empty()) {
    changed = {cell, cell + 1};
    return;
  }
  changed.first = std::min(changed.first, cell);
  changed.end = std::max(changed.end, cell + 1);
}

void OtpChip::SetStuckBits(uint32_t cell, uint8_t bits) { stuckBits[cell] |= bits; }

uint32_t OtpChip::CellOf(uint32_t address) const {
  address &= kAddressMask;
  if (address >= kSystemAreaAlias) return Size() - kSystemAreaBytes + (address - kSystemAreaAlias);
  return address < Size() ? address : kNoCell;
}

bool OtpChip::Maps(uint32_t address) const { return CellOf(address) != kNoCell; }

uint8_t OtpChip::Read(uint32_t address) const {
  const uint32_t cell = CellOf(address);
  return cell == kNoCell ? 0xFF : cells[cell];
}

bool OtpChip::Program(uint32_t address, uint8_t data) {
  const uint32_t cell = CellOf(address);
  if (cell == kNoCell) return false;
  if (!stuckBits.empty()) {
    const auto stuck = stuckBits.find(cell);
    if (stuck != stuckBits.end()) data |= stuck->second;
  }
  const uint8_t programmed = cells[cell] & data;
  if (programmed != cells[cell]) {
    cells[cell] = programmed;
    NoteChange(cell);
  }
  return true;
}

uint32_t ChipSizeForCode(uint8_t sizeCode) {
  switch (sizeCode) {
    case 0x04: return 0x80000;
    case 0x08: return 0x100000;
    case 0x16: return 0x200000;
    default: return 0x40000;
  }
}

}  // namespace qs71::emu
