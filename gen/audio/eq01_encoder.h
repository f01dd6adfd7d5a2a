#pragma once
// .EQ01 sounds: eight samples in five bytes of companded codes. The chip's encoder for them was
// never enabled, so the image only reserves their range and leaves it as it is.

#include <cstdint>

#include "audio/wave_input.h"

// Reservation only: writes nothing, prints nothing, returns 0.
int EncodeEq01(const SampleBuffer& samples, int32_t offset, int32_t soundBase, int32_t start,
               int32_t end, const char* name, const char* fileName);
