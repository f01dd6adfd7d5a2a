#include "utf8_text.h"

#include "hex.h"

namespace {

// The lead bytes of UTF-8 sequences of more than one byte, and the range each allows for the
// byte after it; the bytes after that are all 80..BF. The second-byte ranges leave out the
// overlong forms (C0, C1, E0 80..9F, F0 80..8F), the surrogates (ED A0..BF) and everything
// above U+10FFFF (F4 90..BF, F5..FF).
struct Utf8Lead {
  unsigned char first;
  unsigned char last;
  size_t length;
  unsigned char secondLow;
  unsigned char secondHigh;
};

constexpr Utf8Lead kUtf8Leads[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

bool InRange(unsigned char c, unsigned char low, unsigned char high) {
  return c >= low && c <= high;
}

// "byte 0xE9 at 4", counting from 1.
std::string ByteAt(unsigned char c, size_t at) {
  std::string text = "byte 0x";
  AppendHexByte(text, c, HexCase::kUpper);
  return text + " at " + std::to_string(at + 1);
}

}  // namespace

size_t Utf8SequenceLength(std::string_view value, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(value[at]);
  for (const Utf8Lead& row : kUtf8Leads) {
    if (!InRange(lead, row.first, row.last)) continue;
    if (value.size() - at < row.length) return 0;
    for (size_t i = 1; i < row.length; ++i) {
      const unsigned char c = static_cast<unsigned char>(value[at + i]);
      if (i == 1 ? !InRange(c, row.secondLow, row.secondHigh) : !InRange(c, 0x80, 0xBF)) return 0;
    }
    return row.length;
  }
  return 0;
}

namespace {

enum class Character { kPlain, kControl, kNotUtf8 };

// What stands at value[at], and its length in bytes (1 for anything but plain text).
Character Classify(std::string_view value, size_t at, size_t& length) {
  const unsigned char c = static_cast<unsigned char>(value[at]);
  length = c < 0x80 ? 1 : Utf8SequenceLength(value, at);
  if (length == 0) return length = 1, Character::kNotUtf8;
  // U+0080 to U+009F, the C1 controls, are C2 80 to C2 9F.
  const bool c1 = c == 0xC2 && static_cast<unsigned char>(value[at + 1]) < 0xA0;
  if (c < 0x20 || c == 0x7F || c1) return length = 1, Character::kControl;
  return Character::kPlain;
}

}  // namespace

std::string PlainTextFault(std::string_view value) {
  for (size_t at = 0, length = 0; at < value.size(); at += length) {
    const Character kind = Classify(value, at, length);
    const unsigned char c = static_cast<unsigned char>(value[at]);
    if (kind == Character::kNotUtf8) return "is not UTF-8 (" + ByteAt(c, at) + ")";
    if (kind == Character::kControl) {
      // A C1 control by its code point: its first byte, C2, says nothing.
      const bool c1 = c == 0xC2;
      std::string code = c1 ? "U+00" : "byte 0x";
      AppendHexByte(code, c1 ? static_cast<uint8_t>(value[at + 1]) : c, HexCase::kUpper);
      return "holds a control character (" + code + " at " + std::to_string(at + 1) + ")";
    }
  }
  return "";
}

std::string PrintableText(std::string_view value) {
  std::string shown;
  for (size_t at = 0, length = 0; at < value.size(); at += length) {
    if (Classify(value, at, length) != Character::kPlain) {
      shown += "\\x";
      AppendHexByte(shown, static_cast<uint8_t>(value[at]), HexCase::kUpper);
    } else {
      if (value[at] == '\\') shown += '\\';
      shown.append(value.substr(at, length));
    }
  }
  return shown;
}
