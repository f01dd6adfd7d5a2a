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

namespace {

// The C runtime's reading of a command line: inside quotes, backslashes are literal except in
// a run before a quote, which stands for half as many, and an odd one makes the quote a
// character. run backslashes before a quote that is text, or (atEnd) before the closing quote.
std::string Backslashes(size_t run, bool beforeQuote) { return std::string(beforeQuote ? 2 * run : run, '\\'); }

// cmd.exe expands %NAME% even inside quotes, and ends its quotes at a quote the C runtime takes
// as text. Outside quotes, ^ makes any character plain, the quotes included; and a % followed
// by ^ starts no name that any variable has: ^ is taken out only after the expansion.
std::string CaretWord(const std::string& word) {
  std::string out = "^\"";
  bool afterPercent = false;
  size_t run = 0;
  auto emit = [&](const std::string& text) {
    out += afterPercent && text[0] != '^' ? "^" + text : text;
    afterPercent = false;
  };
  for (char c : word) {
    if (c == '\\') {
      ++run;
      continue;
    }
    if (run > 0) emit(Backslashes(run, c == '"'));
    run = 0;
    if (c == '"') emit("\\");
    emit(std::strchr("^&|<>()\"%!", c) != nullptr ? std::string("^") + c : std::string(1, c));
    afterPercent = c == '%';
  }
  if (run > 0) emit(Backslashes(run, true));
  emit("^\"");
  return out;
}

}  // namespace

std::string CmdShellWord(const std::string& path) {
  if (AllIn(path, "_-./:\\@")) return path;
  if (path.find_first_of("%!\"") != std::string::npos) return CaretWord(path);
  const size_t end = path.find_last_not_of('\\') + 1;
  return "\"" + path.substr(0, end) + Backslashes(path.size() - end, true) + "\"";
}
