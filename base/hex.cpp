#include "hex.h"

void AppendHexByte(std::string& out, uint8_t byte, HexCase letters) {
  const char* digits = letters == HexCase::kUpper ? "0123456789ABCDEF" : "0123456789abcdef";
  out += digits[byte >> 4];
  out += digits[byte & 0x0F];
}

std::string HexBytes(const uint8_t* bytes, size_t count, HexCase letters) {
  std::string out;
  out.reserve(2 * count);
  for (size_t i = 0; i < count; ++i) AppendHexByte(out, bytes[i], letters);
  return out;
}
