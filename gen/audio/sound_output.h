#pragma once
// What every encoder does with its bytes once they are made: check that they fill exactly the
// range pass 1 reserved, then put them at the sound's place in the image with one write.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/wave_input.h"

// Where a sound goes and what its listing line names.
struct SoundPlace {
  int32_t offset;     // chip address of the image file's first byte
  int32_t soundBase;  // chip address of the sound data area
  int32_t start;      // first byte, relative to soundBase
  int32_t end;        // last byte, relative to soundBase
  const char* name;
  const char* fileName;
};

// File position of a sound's first byte: SoundBase + start - Offset, wrapping like the chip
// tools' 32-bit arithmetic; a negative result is refused by the image writer.
int32_t SoundFilePosition(int32_t offset, int32_t soundBase, int32_t start);

// One sound kind's bytes for n samples.
using StreamEncoder = std::vector<uint8_t> (*)(const int32_t* samples, size_t n);

// Encodes the samples, checks the range, seeks, prints "<tag> Samples = ..." and writes the
// bytes with one write, then flushes. A wave file that changed between the passes no longer
// fills its range: ErrInternal with nothing printed or written, so that no half-written sound
// passes for a good one. ErrInternal too for a buffer whose count it does not hold.
int EncodeAndStore(const char* tag, StreamEncoder encode, const SampleBuffer& samples,
                   const SoundPlace& place);
