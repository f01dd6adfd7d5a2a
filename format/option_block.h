#pragma once
// The 16-byte option block the chip reads its operating options from, packed from the .GLOBAL
// values of a script, and the volume map that follows it. The block has the layout of the last
// 16 bytes of the 48-byte configuration block, which takes its place once a script uses
// .CFGMEM; positions come from image_layout.h.

#include <array>
#include <cstdint>
#include <span>

#include "cfgmem_fields.h"

constexpr int kOptionBlockSize = 16;
constexpr int kOptionBlockAt = kCfgMemBytes - kOptionBlockSize;  // in the configuration block
constexpr int kVolMapEntries = 16;

// The .GLOBAL values an option block is packed from, as a script that sets none of them
// leaves them: all ones, which gives the blank block, and SecNum 3.
struct OptionValues {
  int32_t SecNum = 3;
  int32_t FuncCode = -1;
  int32_t MiscOpt = -1;
  int32_t Output = -1;
  int32_t WakeupDly = -1;
  int32_t SrcSpd = -1;
  int32_t IO_Cfg = -1;
  int32_t DbckSi = -1;
  int32_t DbckUi = -1;
  int32_t Vol_Cfg = -1;
  int32_t Ramp_Cfg = -1;
};

// One .GLOBAL value and the places of the block it is packed into (byte numbers of the 16-byte
// block). A value whose first place starts at bit valueShift loses its lower bits; pack, where
// present, turns the value into the bits that are stored.
struct OptionGlobal {
  const char* name;  // the .GLOBAL keyword
  int32_t OptionValues::*value;
  int32_t (*pack)(int32_t);
  uint8_t placeCount;
  CfgMemPlace places[2];
};

std::span<const OptionGlobal> OptionGlobalTable();

// The values are not range-checked: each is cut to the bits of its places.
std::array<uint8_t, kOptionBlockSize> BuildOptionBlock(const OptionValues& values);

// $SECNUM as the block stores it: (SecNum - 4) OR 0x7000, of which 16 bits are kept, so the
// default 3 gives 0xFFFF and 4 to 4099 give 0x7000 to 0x7FFF.
int32_t SecNumWord(int32_t secNum);

// Whether the bits every option block holds as ones are set and the bits it repeats in a
// second register agree.
bool OptionBlockFixedBitsHold(const uint8_t* block);

// Volume map bytes the image receives: MaxVol + 1, taken from bits 12 to 15 of Vol_Cfg.
int32_t VolMapLength(int32_t volCfg);
