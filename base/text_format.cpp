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

namespace {

// The length of the UTF-8 sequence at text[at], 0 when it is none (overlong forms, surrogates
// and code points past U+10FFFF are none).
size_t Utf8Length(const std::string& text, size_t at) {
  const auto byte = [&](size_t index) { return static_cast<unsigned char>(text[index]); };
  const unsigned char lead = byte(at);
  const size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                        : lead >= 0xE0 && lead <= 0xEF                ? 3
                        : lead >= 0xF0 && lead <= 0xF4                ? 4
                                                                      : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t index = at + 1; index < at + length; ++index) {
    if ((byte(index) & 0xC0) != 0x80) return 0;
  }
  const unsigned char second = length > 1 ? byte(at + 1) : 0;
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
    return 0;
  }
  return length;
}

}  // namespace

std::string VisibleText(const std::string& text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    const size_t length = Utf8Length(text, at);
    if (length == 1 && c >= 0x20 && c != 0x7F) {
      out += text[at];
    } else if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
      out += Format("\\u%04X", static_cast<unsigned char>(text[at + 1]));
    } else if (length > 1) {
      out.append(text, at, length);
    } else {
      out += Format("\\x%02X", c);
    }
    at += length == 0 ? 1 : length;
  }
  return out;
}

int VisibleColumns(const std::string& line) {
  int columns = 0;
  bool escape = false;
  for (const char c : line) {
    if (escape) {
      escape = c != 'm';
    } else if (c == '\033') {
      escape = true;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++columns;
    }
  }
  return columns;
}
