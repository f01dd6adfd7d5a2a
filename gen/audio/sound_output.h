#pragma once
// A sound's way into the image: its wave file's samples, a block at a time, through the
// encoder of its kind, written at the sound's place in the range pass 1 reserved for it.

#include <cstdint>
#include <string>

#include "audio/sound_codecs.h"
#include "audio/sound_measure.h"
#include "audio/wave_input.h"
#include "image/image_file.h"

// Where a sound goes and what its listing line names.
struct SoundPlace {
  int32_t offset;     // chip address of the image file's first byte
  int32_t soundBase;  // chip address of the sound data area
  int32_t start;      // first byte, relative to soundBase
  int32_t end;        // last byte, relative to soundBase
  const char* name;
  const char* fileName;
  double scale = 1.0;              // every sample is multiplied by it
  std::string* listing = nullptr;  // the "<tag> Samples = ..." line is appended here
  int adpcmQuality = 0;            // --adpcm-quality
  CodecMeter* codecs = nullptr;    // with the map asked for: every codec tried on the same blocks
  LevelMeter* levels = nullptr;    // the samples' levels, where pass 1 left them to the import
};

// File position of a sound's first byte: SoundBase + start - Offset, wrapping like the chip
// tools' 32-bit arithmetic; a negative result is refused by the image writer.
int32_t SoundFilePosition(int32_t offset, int32_t soundBase, int32_t start);

// Streams the samples of reader into image (started, nothing read yet) into the sound's range: checks
// that the codec's bytes for all of them fill the range exactly, seeks, adds the line
// "<tag> Samples = ..." to the listing and writes each block's bytes with one write, then flushes.
//
// A wave file that changed between the passes no longer fills its range: ErrInternal with
// nothing listed or written, so that no half-written sound passes for a good one. A file that
// ends before its last block (it shrank while being read; a short file is refused before
// anything is listed when its length can be told) gives ErrRead, and the part already written
// is set back to the blank 0xFF the layout gave the range. A kind whose range is only reserved
// (no encoder) lists and writes nothing.
int StoreSound(const ImageStream& image, const SoundCodec& codec, SampleReader* reader,
               const SoundPlace& place);
