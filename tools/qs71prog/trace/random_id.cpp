#include "trace/random_id.h"

#include <sodium.h>

#include <cstdint>

#include "hex.h"

namespace qs71prog {

std::string RandomUuid() {
  // sodium_init may run any number of times; randombytes_buf needs it on some systems.
  static const bool ready = sodium_init() >= 0;
  (void)ready;
  uint8_t bytes[16];
  randombytes_buf(bytes, sizeof bytes);
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // the RFC's variant
  const std::string hex = HexBytes(bytes, sizeof bytes);
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20);
}

bool IsUuid(const std::string& text) {
  if (text.size() != 36) return false;
  for (size_t index = 0; index < text.size(); ++index) {
    const bool dash = index == 8 || index == 13 || index == 18 || index == 23;
    if (dash ? text[index] != '-' : HexDigitValue(text[index]) < 0) return false;
  }
  return true;
}

}  // namespace qs71prog
