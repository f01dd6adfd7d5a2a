#pragma once
// The sounds an image holds, as far as its group entries name them: each distinct kind and
// address range once, numbered in the order the sections first link them, and the space of
// the sound data area that no entry names (free, or holding data of an unlinked sound such
// as a ramp).

#include <cstdint>
#include <vector>

#include "image_bytes.h"
#include "image_map.h"

// Name of a kind in the listings: its script keyword without the dot.
const char* KindName(const SoundKindInfo* kind);

// Fills sounds and sets every link's soundId.
void CollectSounds(std::vector<Section>* sections, int32_t offset, std::vector<Sound>* sounds);

// Gaps between the data ranges from dataStart (file position) to the system area.
std::vector<FreeRange> FindFreeRanges(const ImageBytes& image, const std::vector<Sound>& sounds,
                                      int64_t dataStart, int64_t dataEnd);
