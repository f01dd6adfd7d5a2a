#pragma once
// Names of the script language are compared without regard to ASCII letter case only; the
// locale never enters into it.

#include <cstdarg>
#include <string>
#include <string_view>

inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string AsciiLowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Value of a hexadecimal digit, or -1.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Formats like snprintf into a string of whatever size the text needs.
__attribute__((format(printf, 1, 2))) std::string Format(const char* fmt, ...);
std::string FormatV(const char* fmt, std::va_list args);
