#include "option_block.h"

#include "wrap_math.h"

namespace {

using V = OptionValues;

const OptionGlobal kGlobals[] = {
    {"$WAKEUPDLY", &V::WakeupDly, nullptr, 1, {{0, 0, 5, 3}, {}}},
    {"$FUNCCODE", &V::FuncCode, nullptr, 2, {{0, 5, 3, 0}, {4, 0, 8, 3}}},
    {"$SRCSPD", &V::SrcSpd, nullptr, 1, {{3, 0, 2, 0}, {}}},
    {"$IO_CFG", &V::IO_Cfg, nullptr, 1, {{5, 0, 8, 0}, {}}},
    {"$DBCKUI", &V::DbckUi, nullptr, 1, {{6, 0, 4, 0}, {}}},
    {"$DBCKSI", &V::DbckSi, nullptr, 1, {{6, 4, 4, 0}, {}}},
    {"$SECNUM", &V::SecNum, SecNumWord, 2, {{8, 0, 8, 0}, {9, 0, 8, 8}}},
    {"$VOL_CFG", &V::Vol_Cfg, nullptr, 2, {{10, 0, 8, 0}, {11, 0, 8, 8}}},
    {"$RAMP_CFG", &V::Ramp_Cfg, nullptr, 1, {{12, 0, 8, 0}, {}}},
    {"$MISCOPT", &V::MiscOpt, nullptr, 1, {{13, 0, 8, 0}, {}}},
    {"$OUTPUT", &V::Output, nullptr, 2, {{14, 0, 8, 0}, {15, 0, 8, 8}}},
};

// Bits no value is packed into; the blank block leaves them set.
struct FixedBits {
  uint8_t byte;
  uint8_t mask;
};
const FixedBits kFixed[] = {{1, 0xFF}, {2, 0xFF}, {3, 0x1C}, {7, 0x3F}};

// The three low bits of FuncCode and bits 6, 7 of IO_Cfg appear twice because the chip reads
// them from two registers.
struct RepeatedBits {
  uint8_t byte;
  uint8_t copy;
  uint8_t mask;
};
const RepeatedBits kRepeats[] = {{0, 3, 0xE0}, {5, 7, 0xC0}};

uint32_t PackedValue(const OptionGlobal& global, const OptionValues& values) {
  const int32_t value = values.*global.value;
  return static_cast<uint32_t>(global.pack != nullptr ? global.pack(value) : value);
}

}  // namespace

std::span<const OptionGlobal> OptionGlobalTable() { return kGlobals; }

std::array<uint8_t, kOptionBlockSize> BuildOptionBlock(const OptionValues& values) {
  std::array<uint8_t, kOptionBlockSize> block;
  block.fill(0xFF);
  for (const OptionGlobal& global : kGlobals) {
    const uint32_t packed = PackedValue(global, values);
    for (int i = 0; i < global.placeCount; ++i) {
      StoreCfgMemPlace(global.places[i], packed, block.data());
    }
  }
  for (const RepeatedBits& r : kRepeats) {
    block[r.copy] = static_cast<uint8_t>((block[r.copy] & ~r.mask) | (block[r.byte] & r.mask));
  }
  return block;
}

int32_t SecNumWord(int32_t secNum) { return WrapSub(secNum, 4) | 0x7000; }

bool OptionBlockFixedBitsHold(const uint8_t* block) {
  for (const FixedBits& f : kFixed) {
    if ((block[f.byte] & f.mask) != f.mask) return false;
  }
  for (const RepeatedBits& r : kRepeats) {
    if ((block[r.byte] & r.mask) != (block[r.copy] & r.mask)) return false;
  }
  return true;
}

int32_t VolMapLength(int32_t volCfg) { return (ShiftRight(volCfg, 12) & 15) + 1; }
