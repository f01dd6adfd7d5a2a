#include "chip_identity.h"

namespace qs71 {

namespace {

struct SizeEntry {
  uint8_t code;
  uint32_t size;
};

// The 2 MB part reports 0x16, not 0x10 as the pattern of the smaller ones would suggest.
constexpr SizeEntry kSizes[] = {
    {0x02, 0x40000},
    {0x04, 0x80000},
    {0x08, 0x100000},
    {0x16, 0x200000},
};

}  // namespace

uint32_t OtpSizeForCode(uint8_t sizeCode) {
  for (const SizeEntry& entry : kSizes) {
    if (entry.code == sizeCode) return entry.size;
  }
  return 0;
}

}  // namespace qs71
