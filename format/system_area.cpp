#include "system_area.h"

#include <cstdio>

namespace qs71 {

namespace {

using BytePredicate = bool (*)(uint8_t);

bool IsTagHigh(uint8_t b) { return b == 0x5A; }
bool IsTagLow(uint8_t b) { return b == 0xA5; }
bool IsNotZero(uint8_t b) { return b != 0x00; }
bool IsErased(uint8_t b) { return b == 0xFF; }
bool IsTrimmed(uint8_t b) { return b != 0xFF && b != 0x00; }
bool HasEnableBits(uint8_t b) { return (b & 0xE0) == 0xE0; }
bool HasEnableBitsBit2Clear(uint8_t b) { return (b & 0xE0) == 0xE0 && (b & 0x04) == 0; }
bool IsMarker(uint8_t b) { return b == 0x00 || b == 0x5A; }

bool HasTrimNibble(uint8_t b) {
  const uint8_t low = b & 0x0F;
  return (b & 0xC0) == 0xC0 && low != 0x0F && low != 0x00;
}

struct ByteRule {
  uint32_t distance;
  BytePredicate holds;
};

// Every good part satisfies these.
constexpr ByteRule kFirstStage[] = {
    {66, IsTagHigh},       {65, IsTagLow},     {63, IsNotZero},     {62, HasEnableBits},
    {56, HasEnableBitsBit2Clear},              {55, IsErased},      {54, IsTrimmed},
    {53, HasTrimNibble},   {52, IsTrimmed},    {50, HasEnableBits}, {44, IsTrimmed},
    {42, IsTrimmed},       {31, IsMarker},
};

// Parts whose option byte 78 has all of the bits 0x7C set leave these trims unprogrammed.
constexpr uint32_t kSecondStageTrigger = 78;
constexpr uint8_t kSecondStageBits = 0x7C;
constexpr ByteRule kSecondStage[] = {
    {51, IsErased}, {50, IsErased}, {49, IsErased}, {48, IsErased}, {47, IsErased},
    {46, IsErased}, {40, IsErased}, {39, IsErased}, {38, IsErased}, {37, IsErased},
};

enum class MaskOp { kOr, kSet };

struct MaskRule {
  uint32_t distance;
  MaskOp op;
  uint8_t value;
};

constexpr MaskRule kMasks[] = {
    {63, MaskOp::kSet, 0xFF}, {62, MaskOp::kOr, 0x04},  {61, MaskOp::kSet, 0xFF},
    {60, MaskOp::kSet, 0xFF}, {59, MaskOp::kOr, 0x0F},  {58, MaskOp::kSet, 0xFF},
    {57, MaskOp::kSet, 0xFF}, {56, MaskOp::kOr, 0x04},  {55, MaskOp::kSet, 0xFF},
    {54, MaskOp::kSet, 0xFF}, {53, MaskOp::kOr, 0x0F},  {52, MaskOp::kSet, 0xFF},
    {51, MaskOp::kSet, 0xFF}, {50, MaskOp::kOr, 0x04},  {49, MaskOp::kSet, 0xFF},
    {48, MaskOp::kSet, 0xFF}, {47, MaskOp::kOr, 0x0F},  {46, MaskOp::kSet, 0xFF},
    {44, MaskOp::kSet, 0xFF}, {43, MaskOp::kOr, 0x0F},  {42, MaskOp::kSet, 0xFF},
    {41, MaskOp::kOr, 0x0F},  {40, MaskOp::kSet, 0xFF}, {39, MaskOp::kOr, 0x0F},
    {38, MaskOp::kSet, 0xFF}, {37, MaskOp::kOr, 0x0F},  {31, MaskOp::kSet, 0x5A},
};

template <size_t N>
bool AllHold(const ByteRule (&rules)[N], const std::vector<uint8_t>& block) {
  for (const ByteRule& rule : rules) {
    if (!rule.holds(block[SystemAreaOffset(rule.distance)])) return false;
  }
  return true;
}

uint8_t MaskedByte(uint32_t distance, uint8_t b) {
  for (const MaskRule& mask : kMasks) {
    if (mask.distance != distance) continue;
    return mask.op == MaskOp::kOr ? static_cast<uint8_t>(b | mask.value) : mask.value;
  }
  return b;
}

template <size_t N>
bool HoldsAt(const ByteRule (&rules)[N], uint32_t distance, uint8_t b) {
  for (const ByteRule& rule : rules) {
    if (rule.distance == distance && !rule.holds(b)) return false;
  }
  return true;
}

template <size_t N>
bool Names(const ByteRule (&rules)[N], uint32_t distance) {
  for (const ByteRule& rule : rules) {
    if (rule.distance == distance) return true;
  }
  return false;
}

bool PartAccepts(uint32_t distance, uint8_t b, bool secondStage) {
  return HoldsAt(kFirstStage, distance, b) && (!secondStage || HoldsAt(kSecondStage, distance, b));
}

// Whether a part may hold some byte at this distance that the rules accept and that masks to
// what the image's byte masks to. Where nothing is masked that is the image's byte itself.
bool SomePartByteFits(uint32_t distance, uint8_t imageByte, bool secondStage) {
  const uint8_t expected = MaskedByte(distance, imageByte);
  for (int value = 0; value <= 0xFF; ++value) {
    const uint8_t b = static_cast<uint8_t>(value);
    if (MaskedByte(distance, b) == expected && PartAccepts(distance, b, secondStage)) return true;
  }
  return false;
}

// Programming can only clear bits: a part holds its own byte AND the image's after the write.
// True when some byte a good part may hold there would come out as one no good part holds,
// so that the part fails its own system-area check from then on.
bool WriteSpoils(uint32_t distance, uint8_t imageByte, bool secondStage) {
  // A byte no rule names takes any value: only the few ruled ones need the 256 tries, which
  // every compile runs over the whole system area.
  if (!Names(kFirstStage, distance) && !(secondStage && Names(kSecondStage, distance))) return false;
  for (int value = 0; value <= 0xFF; ++value) {
    const uint8_t part = static_cast<uint8_t>(value);
    if (!PartAccepts(distance, part, secondStage)) continue;
    if (!PartAccepts(distance, static_cast<uint8_t>(part & imageByte), secondStage)) return true;
  }
  return false;
}

}  // namespace

bool SecondStageOf(const std::vector<uint8_t>& block) {
  const uint8_t trigger = block[SystemAreaOffset(kSecondStageTrigger)];
  return (trigger & kSecondStageBits) == kSecondStageBits;
}

bool CheckSystemArea(const std::vector<uint8_t>& block) {
  if (block.size() != kSystemAreaSize) return false;
  if (!AllHold(kFirstStage, block)) return false;
  return !SecondStageOf(block) || AllHold(kSecondStage, block);
}

void MaskSystemArea(std::vector<uint8_t>& block) {
  if (block.size() != kSystemAreaSize) return;
  for (const MaskRule& mask : kMasks) {
    uint8_t& b = block[SystemAreaOffset(mask.distance)];
    b = mask.op == MaskOp::kOr ? static_cast<uint8_t>(b | mask.value) : mask.value;
  }
}

uint8_t FactoryBits(uint32_t distance) {
  if (distance == kMarkerDistance) return 0;
  for (const MaskRule& mask : kMasks) {
    if (mask.distance != distance) continue;
    return mask.op == MaskOp::kOr ? mask.value : 0xFF;
  }
  return 0;
}

uint8_t PartBits(uint32_t distance, bool secondStage) {
  uint8_t common = 0xFF;
  bool any = false;
  for (int value = 0; value <= 0xFF; ++value) {
    if (!PartAccepts(distance, static_cast<uint8_t>(value), secondStage)) continue;
    common &= static_cast<uint8_t>(value);
    any = true;
  }
  // The marker is 0x00 or 0x5A: its bits must be kept together or cleared together.
  if (distance == kMarkerDistance) common = 0x5A;
  return static_cast<uint8_t>(FactoryBits(distance) | (any ? common : 0));
}

std::string SpoiledByteName(uint32_t distance, uint8_t imageByte, bool secondStage) {
  const uint8_t factory = FactoryBits(distance);
  if ((imageByte & factory) != factory) return "";
  if (distance == kMarkerDistance) return "the marker (00 or 5A only)";
  if (distance == kTagDistanceHigh || distance == kTagDistanceLow) return "the tag 5A A5";
  char text[64];
  std::snprintf(text, sizeof text, "the bits %02X that every good part holds",
                static_cast<unsigned>(PartBits(distance, secondStage)));
  return text;
}

uint32_t FactoryCellClash(const std::vector<uint8_t>& imageBlock) {
  if (imageBlock.size() != kSystemAreaSize) return kSystemAreaSize;
  const bool secondStage = SecondStageOf(imageBlock);
  for (uint32_t distance = kSystemAreaSize; distance > 0; --distance) {
    const uint8_t bits = FactoryBits(distance);
    const uint8_t image = imageBlock[SystemAreaOffset(distance)];
    if ((image & bits) != bits || WriteSpoils(distance, image, secondStage)) return distance;
  }
  return 0;
}

uint32_t SystemAreaMisfit(const std::vector<uint8_t>& imageBlock) {
  if (imageBlock.size() != kSystemAreaSize) return kSystemAreaSize;
  // The option byte is not masked, so a part that verifies holds the image's value there,
  // and the image decides whether the second stage applies.
  const bool secondStage = SecondStageOf(imageBlock);
  for (uint32_t distance = kSystemAreaSize; distance > 0; --distance) {
    if (!SomePartByteFits(distance, imageBlock[SystemAreaOffset(distance)], secondStage)) {
      return distance;
    }
  }
  return 0;
}

}  // namespace qs71
