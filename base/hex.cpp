#include "hex.h"

void AppendHexByte(std::string& out, uint8_t byte, HexCase letters) {
  const char* digits = letters == HexCase::kUpper ? "0123456789ABCDEF" : "0123456789abcdef";
  out += digits[byte >> 4];
  out += digits[byte & 0x0F];
}

bool ParseHexBytes(const std::string& hex, uint8_t* bytes, size_t count) {
  if (hex.size() != count * 2) return false;
  for (size_t i = 0; i < count; ++i) {
    const int high = HexDigitValue(hex[2 * i]);
    const int low = HexDigitValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return true;
}

std::string HexBytes(const uint8_t* bytes, size_t count, HexCase letters) {
  std::string out;
  out.reserve(2 * count);
  for (size_t i = 0; i < count; ++i) AppendHexByte(out, bytes[i], letters);
  return out;
}
