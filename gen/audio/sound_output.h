#pragma once
// What every encoder does with its bytes once they are made: check that they fill exactly the
// range pass 1 reserved, then put them at the sound's place in the image with one write.

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

// True when the buffer's count describes samples it really holds.
bool HasValidCount(const SampleBuffer& samples);

// Checks the range, seeks, prints "<tag> Samples = ..." and writes bytes with one write, then
// flushes. A wave file that changed between the passes no longer fills its range: ErrInternal
// with nothing printed or written, so that no half-written sound passes for a good one.
int StoreSound(const char* tag, const SampleBuffer& samples, const SoundPlace& place,
               const std::vector<uint8_t>& bytes);
