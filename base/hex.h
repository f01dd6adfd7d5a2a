#pragma once
// Hexadecimal as the tools write and read it: digests, report transcripts, the escapes of
// JSON strings, and the hex digits that scripts and settings spell addresses and IDs with.

#include <cstddef>
#include <cstdint>
#include <string>

enum class HexCase { kLower, kUpper };

// Value of a hexadecimal digit, or -1.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Appends the byte as two hex digits.
void AppendHexByte(std::string& out, uint8_t byte, HexCase letters = HexCase::kLower);

// Reads exactly count bytes written as two hex digits each, either case, no separators.
bool ParseHexBytes(const std::string& hex, uint8_t* bytes, size_t count);

// The bytes as two hex digits each, without separators: "6d610200".
std::string HexBytes(const uint8_t* bytes, size_t count, HexCase letters = HexCase::kLower);
