#include "chip_identity.h"

namespace qs71 {

namespace {

// The 2 MB part reports 0x16, not 0x10 as the pattern of the smaller ones would suggest.
constexpr OtpPart kParts[] = {
    {0x02, 0x40000},
    {0x04, 0x80000},
    {0x08, 0x100000},
    {0x16, 0x200000},
};

}  // namespace

std::span<const OtpPart> OtpParts() { return kParts; }

uint32_t OtpSizeForCode(uint8_t sizeCode) {
  for (const OtpPart& part : kParts) {
    if (part.sizeCode == sizeCode) return part.size;
  }
  return 0;
}

bool IsOtpSize(int64_t size) {
  for (const OtpPart& part : kParts) {
    if (part.size == size) return true;
  }
  return false;
}

}  // namespace qs71
