#pragma once
// The 16-byte option block the chip reads its operating options from, the volume map right
// after it, and the 48-byte configuration block that replaces the option block once a script
// uses .CFGMEM. Positions come from image_layout.h.

#include <array>
#include <cstdint>

struct CompileState;

constexpr int kOptionBlockSize = 16;
constexpr int kVolMapEntries = 16;

// The option block as the chip reads it, packed from the .GLOBAL option values of state. Pure,
// so that an inspector can compare an image's block with the values it decodes.
std::array<uint8_t, kOptionBlockSize> BuildOptionBlock(const CompileState& state);

// Volume map bytes the image receives: MaxVol + 1, taken from bits 12 to 15 of Vol_Cfg.
int32_t VolMapLength(int32_t volCfg);

// `.GLOBAL $VOL_MAP = "0010..."`: up to 16 pairs of hex digits between the quotes; the steps
// not named get 0x80. 0, or ErrInternal for a malformed text (VolMap then stays as it was).
int ParseVolMap(const char* literal);

// Lists the option values, writes the volume map and then the option block at OptionStart.
int WriteOptionBlock();

// Writes the volume map at OptionBase + 48 with its listing line.
int WriteVolMap();

// Writes the 48 configuration bytes at OptionBase.
int WriteCfgMemBlock();
