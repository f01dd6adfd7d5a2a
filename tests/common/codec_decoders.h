#pragma once
// Decoding for the codec checks, written from the chip's point of view and independent of the
// generator's encoders: the image format's own decoders, fed with tables as the system area
// holds them, so a round trip through an image checks the stored tables as well as the codes.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testcodec {

// count little-endian 16-bit values, as the step and expansion tables are stored.
std::vector<int32_t> ReadLe16Table(const uint8_t* bytes, size_t count);

// IMA ADPCM, two codes per byte with the earlier sample in the high nibble, from predictor 0
// and step index 0, with steps as the step table (89 entries).
std::vector<int32_t> DecodeImaAdpcm(const uint8_t* stream, size_t sampleCount,
                                    const std::vector<int32_t>& steps);

// u-law codes: bit 7 sign, bits 6..0 index the expansion table of magnitudes (128 entries).
std::vector<int32_t> DecodeUlaw(const uint8_t* codes, size_t count,
                                const std::vector<int32_t>& expansion);

// Signal-to-noise ratio of decoded against reference in dB over the shorter length; infinity
// when they are equal.
double SnrDb(const std::vector<int32_t>& reference, const std::vector<int32_t>& decoded);

}  // namespace testcodec
