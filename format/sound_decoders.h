#pragma once
// The chip's side of the sound encodings: what it plays from the bytes of a group entry's
// range. The decoders take their tables as the image stores them in the system area (the
// chip has no tables of its own), so a sound is heard with exactly the steps and the
// expansion that the image will carry. Used by the image inspector and by the codec checks;
// independent of the encoders, which only have to agree with the stored tables.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec_tables.h"

// The two tables as an image holds them: little-endian 16-bit values, read at AdpcmStart
// and SystemAreaStart. Entries are unsigned in the image and stay so here.
struct StoredCodecTables {
  int32_t steps[kImaStepCount] = {};
  int32_t expansion[kUlawCodeCount] = {};
};

// Reads both tables from a system area of at least 512 bytes (first byte = the u-law table).
StoredCodecTables ReadStoredCodecTables(const uint8_t* systemArea);

// IMA ADPCM as the chip plays it: one continuous stream from predictor 0 and step index 0,
// two codes a byte with the earlier sample in the high nibble. Every nibble of the range is
// played, so byteCount bytes give 2 x byteCount samples.
std::vector<int32_t> DecodeAdpcmRange(const uint8_t* bytes, size_t byteCount,
                                      const StoredCodecTables& tables);

// Where the chip's ADPCM player stands between two pieces of one range.
struct AdpcmPlayback {
  int32_t predictor = 0;
  int32_t index = 0;
};

// A range decoded a piece at a time (each piece of whole bytes), continuing from *playback
// and leaving it where the piece ends: the pieces together give what DecodeAdpcmRange gives.
std::vector<int32_t> DecodeAdpcmPiece(AdpcmPlayback* playback, const uint8_t* bytes,
                                      size_t byteCount, const StoredCodecTables& tables);

// u-law codes: bit 7 the sign, bits 6..0 the index into the stored expansion table.
std::vector<int32_t> DecodeUlawRange(const uint8_t* codes, size_t count,
                                     const StoredCodecTables& tables);

// Signed 8-bit samples, brought to the 16-bit scale (v x 256), as the encoder divided them.
std::vector<int32_t> DecodePcm8Range(const uint8_t* bytes, size_t count);

// Signed 16-bit samples, low byte first; an odd last byte is not a sample.
std::vector<int32_t> DecodePcm16Range(const uint8_t* bytes, size_t byteCount);
