#include "warnings.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <unordered_set>

#include "compile_state.h"
#include "text_format.h"

namespace {

bool g_strict = false;
int32_t g_strictCount = 0;
std::string g_detail;
std::unordered_set<std::string> g_warnedKeys;

void PrintLine(int32_t line, const char* kind, const char* fmt, std::va_list args) {
  PrintScriptPlace(line);
  std::fprintf(stderr, "%s: ", kind);
  std::vfprintf(stderr, fmt, args);
  std::fputc('\n', stderr);
}

void WarnV(int32_t line, const char* fmt, std::va_list args) {
  PrintLine(line, g_strict ? "error" : "warning", fmt, args);
  if (g_strict) ++g_strictCount;
}

}  // namespace

void SetStrictWarnings(bool strict) { g_strict = strict; }

int32_t StrictWarningCount() { return g_strictCount; }

void PrintScriptPlace(int32_t line) {
  const char* script = g_state.ArgCount > 1 ? g_state.Args[1].c_str() : "qs71gen";
  if (line > 0) std::fprintf(stderr, "%s:%d: ", script, line);
  else std::fprintf(stderr, "%s: ", script);
}

void Warn(int32_t line, const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  WarnV(line, fmt, args);
  va_end(args);
}

void WarnOnce(const std::string& key, int32_t line, const char* fmt, ...) {
  if (!g_warnedKeys.insert(key).second) return;
  std::va_list args;
  va_start(args, fmt);
  WarnV(line, fmt, args);
  va_end(args);
}

void SetErrorDetail(const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  g_detail = FormatV(fmt, args);
  va_end(args);
}

bool TakeErrorDetail(int32_t line, bool shown) {
  const bool printed = shown && !g_detail.empty();
  if (printed) {
    PrintScriptPlace(line);
    std::fprintf(stderr, "error: %s\n", g_detail.c_str());
  }
  g_detail.clear();
  return printed;
}

void ResetWarnings() {
  g_strict = false;
  g_strictCount = 0;
  g_detail.clear();
  g_warnedKeys.clear();
}
