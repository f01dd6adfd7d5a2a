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

// The tables the generator stores in every image (codec_tables.h), as ReadStoredCodecTables
// finds them there: what the encoders and the codec checks play their codes with.
StoredCodecTables ImageCodecTables();

// IMA ADPCM as the chip plays it: one continuous stream from predictor 0 and step index 0,
// two codes a byte with the earlier sample in the high nibble. Every nibble of the range is
// played, so byteCount bytes give 2 x byteCount samples.
std::vector<int32_t> DecodeAdpcmRange(const uint8_t* bytes, size_t byteCount,
                                      const StoredCodecTables& tables);

// The decoder's state between two codes of one sound, for a caller that plays (or an encoder
// that searches) a sound code by code or block by block: a fresh one is where the chip starts
// every sound.
struct AdpcmPlayback {
  int32_t predictor = 0;  // kept within -32768..32767
  int32_t index = 0;      // kept within 0..88
};

// What a code adds to the predictor at a step, before the limit: step / 8, plus step, step / 2
// and step / 4 for bits 2, 1 and 0 of the code; bit 3 makes it a subtraction. Unsigned stored
// steps up to 65535 keep it within 32 bits.
int32_t AdpcmDelta(int32_t step, int code);

// The step index after a code at index, kept within the table.
int32_t AdpcmNextIndex(int32_t index, int code);

// Plays one 4-bit code from *state and returns the sample the chip plays for it.
int32_t PlayAdpcmCode(AdpcmPlayback* state, const StoredCodecTables& tables, int code);

// Plays byteCount bytes from *state into out (2 x byteCount samples) and leaves *state where
// the last nibble left it.
void DecodeAdpcmBlock(AdpcmPlayback* state, const uint8_t* bytes, size_t byteCount,
                      const StoredCodecTables& tables, int32_t* out);

// u-law codes: bit 7 the sign, bits 6..0 the index into the stored expansion table.
std::vector<int32_t> DecodeUlawRange(const uint8_t* codes, size_t count,
                                     const StoredCodecTables& tables);

// Signed 8-bit samples, brought to the 16-bit scale (v x 256), as the encoder divided them.
std::vector<int32_t> DecodePcm8Range(const uint8_t* bytes, size_t count);

// Signed 16-bit samples, low byte first; an odd last byte is not a sample.
std::vector<int32_t> DecodePcm16Range(const uint8_t* bytes, size_t byteCount);

// What the chip plays from byteCount bytes of a sound of kind (sound_kinds.h): ADPCM, u-law,
// PCM8 or PCM16 as above; empty for a kind without codes to decode (EQ01, silence, mute).
std::vector<int32_t> DecodeKindRange(int32_t kind, const uint8_t* bytes, size_t byteCount,
                                     const StoredCodecTables& tables);
