#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qs71 {

// The last 512 bytes of every QS71 OTP hold the factory trims, the tag and the marker.
// Positions are counted as a distance k from the end: byte k sits at offset 512 - k of the
// block and at offset size - k of an image file.
inline constexpr uint32_t kSystemAreaSize = 512;
// The programmer reads the system area through the top of the 24-bit address space,
// whatever the part's size.
inline constexpr uint32_t kSystemAreaAddress = 0xFFFE00;
// Distance of the marker byte that a finished part carries as 0x00 and a fresh one as 0x5A.
inline constexpr uint32_t kMarkerDistance = 31;
// The factory tag bytes, which a blank check expects wherever the chip has them.
inline constexpr uint32_t kTagDistanceHigh = 66;
inline constexpr uint32_t kTagDistanceLow = 65;

inline constexpr size_t SystemAreaOffset(uint32_t distance) {
  return kSystemAreaSize - distance;
}

// True when a block read from a chip carries the factory values of a good part.
bool CheckSystemArea(const std::vector<uint8_t>& block);

// Rewrites the bytes that differ from chip to chip (trims, the marker) to the values an
// image carries there, so that a block read from a chip can be compared with an image.
void MaskSystemArea(std::vector<uint8_t>& block);

// An image's own system area, judged as the verify will judge it: the verify accepts a part
// whose block passes CheckSystemArea and, masked, equals the image's block masked. Returns 0
// when some good part can match the image that way, else the distance k of the first byte
// (in address order) that no good part's byte matches; a block of another size gives
// kSystemAreaSize. An image that fails here never verifies on any part.
uint32_t SystemAreaMisfit(const std::vector<uint8_t>& imageBlock);

// The bits at distance k that hold the part's own factory values (trims and enables): the
// mask forces them, so no verify ever sees what the image holds there, but the write
// programs them like any other cell, and a 0 programmed over a factory 1 cannot be undone.
// An image must carry those bits as 1. 0 where the mask forces nothing. The marker byte is
// not a factory cell: the mask replaces it too, but writing 0x00 there is how a part is
// marked as finished (the clear-marker option), so the image may hold any value there.
uint8_t FactoryBits(uint32_t distance);

// The bits at distance k that a write must leave as the part holds them, for a part whose
// option byte says secondStage: FactoryBits, the bits every good part holds as 1 there (tags,
// enables), and the marker's 5A, which may only be kept whole or cleared whole.
uint8_t PartBits(uint32_t distance, bool secondStage);

// The first byte (in address order) of an image's system area whose write would spoil a good
// part: it clears a factory bit, or it leaves a byte that no good part holds (a tag or an
// enable bit cleared, a marker that is neither 00 nor 5A), so that the part fails its
// system-area check from then on. Its distance k, or 0 when there is none. A block of another
// size gives kSystemAreaSize.
uint32_t FactoryCellClash(const std::vector<uint8_t>& imageBlock);

// What an image byte that FactoryCellClash names spoils, when it is not a factory trim: "the
// tag 5A A5", "the marker (00 or 5A only)", "the bits E4 that every good part holds", ...;
// empty for a factory trim.
std::string SpoiledByteName(uint32_t distance, uint8_t imageByte, bool secondStage);

// Whether the image's option byte makes its parts leave the second-stage trims unprogrammed.
bool SecondStageOf(const std::vector<uint8_t>& block);

}  // namespace qs71
