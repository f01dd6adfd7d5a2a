#include "text_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string FormatV(const char* fmt, std::va_list args) {
  std::va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, args);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, again);
  va_end(again);
  return out;
}

std::string Format(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  std::string out = FormatV(fmt, args);
  va_end(args);
  return out;
}

bool ParseNumber(const std::string& text, double low, double high, double* value) {
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(*value) && *value >= low && *value <= high;
}

const char* NumberFault(const std::string& text) {
  double any = 0;
  return ParseNumber(text, -HUGE_VAL, HUGE_VAL, &any) ? "is out of range" : "is not a number";
}

namespace {

bool AllIn(const std::string& text, const char* plain) {
  if (text.empty()) return false;
  for (char c : text) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && (c == '\0' || std::strchr(plain, c) == nullptr)) return false;
  }
  return true;
}

}  // namespace

std::string PosixShellWord(const std::string& path) {
  if (AllIn(path, "_-./:+,@%=")) return path;
  std::string word = "'";
  for (char c : path) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

std::string CmdShellWord(const std::string& path) {
  return AllIn(path, "_-./:\\@") ? path : "\"" + path + "\"";
}
