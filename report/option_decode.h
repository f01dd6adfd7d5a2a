#pragma once
// The chip's options at the end of the image. Which block an image holds is told by byte 33
// of the 48 bytes at OptionBase (OptionStart + 1): the option block leaves it 0xFF, the
// configuration block holds 0x5A there, or 0x00 for a slave part. Any other value can only
// come from a fill directive; such an image is read as a configuration block and its Slave
// field shown as invalid. Both blocks are decoded with the image format's table of
// configuration fields: the last 16 bytes of the configuration block are laid out as the
// option block, so an option block shows the fields of those bytes.

#include <cstdint>
#include <vector>

#include "image_bytes.h"
#include "image_map.h"

bool HoldsConfigBlock(const ImageBytes& image, const ImageLayout& layout);

// Raw bytes, named fields and, for an option block, the .GLOBAL values it was packed from.
OptionInfo DecodeOptions(const ImageBytes& image, const ImageLayout& layout);

// MaxVol + 1 entries at OptionBase + 48 (MaxVol is bits 4 to 7 of byte 43 in both blocks).
VolumeMap DecodeVolumeMap(const ImageBytes& image, const ImageLayout& layout);
