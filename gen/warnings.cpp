#include "warnings.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <utility>

#include "compile_state.h"
#include "text_format.h"

namespace {

void PrintLine(CompileState& s, int32_t line, const char* kind, const char* fmt,
               std::va_list args) {
  PrintScriptPlace(s, line);
  std::fprintf(s.Err, "%s: ", kind);
  std::vfprintf(s.Err, fmt, args);
  std::fputc('\n', s.Err);
}

void WarnV(CompileState& s, int32_t line, const char* fmt, std::va_list args) {
  std::va_list copy;
  va_copy(copy, args);
  s.Warnings.given.push_back({line, FormatV(fmt, copy), "", SoundBadge::None});
  va_end(copy);
  PrintLine(s, line, s.Warnings.strict ? "error" : "warning", fmt, args);
  if (s.Warnings.strict) ++s.Warnings.strictCount;
}

// The page lists the advice with the warnings: it is what the designer acts on.
void AdviseV(CompileState& s, GivenWarning given, const char* fmt, std::va_list args) {
  std::va_list copy;
  va_copy(copy, args);
  given.text = FormatV(fmt, copy);
  va_end(copy);
  s.Warnings.given.push_back(std::move(given));
  PrintLine(s, s.Warnings.given.back().line, "warning", fmt, args);
}

}  // namespace

void SetStrictWarnings(CompileState& s, bool strict) { s.Warnings.strict = strict; }

int32_t StrictWarningCount(CompileState& s) { return s.Warnings.strictCount; }

void PrintScriptPlace(CompileState& s, int32_t line) {
  const char* script = s.ArgCount > 1 ? s.Args[1].c_str() : "qs71gen";
  if (line > 0) std::fprintf(s.Err, "%s:%d: ", script, line);
  else std::fprintf(s.Err, "%s: ", script);
}

void Warn(CompileState& s, int32_t line, const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  WarnV(s, line, fmt, args);
  va_end(args);
}

const char* SoundBadgeText(SoundBadge badge) {
  static const char* const kTexts[] = {"", "clipped", "hum", "silence left", "too quiet", "over an SPL limit"};
  return kTexts[static_cast<int>(badge)];
}

void Advise(CompileState& s, int32_t line, const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  AdviseV(s, {line, "", "", SoundBadge::None}, fmt, args);
  va_end(args);
}

void AdviseSound(CompileState& s, int32_t line, const std::string& sound, SoundBadge badge, const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  AdviseV(s, {line, "", sound, badge}, fmt, args);
  va_end(args);
}

void WarnOnce(CompileState& s, const std::string& key, int32_t line, const char* fmt, ...) {
  if (!s.Warnings.warnedKeys.insert(key).second) return;
  std::va_list args;
  va_start(args, fmt);
  WarnV(s, line, fmt, args);
  va_end(args);
}

void SetErrorDetail(CompileState& s, const char* fmt, ...) {
  std::va_list args;
  va_start(args, fmt);
  s.Warnings.detail = FormatV(fmt, args);
  va_end(args);
}

bool TakeErrorDetail(CompileState& s, int32_t line, bool shown) {
  const bool printed = shown && !s.Warnings.detail.empty();
  if (printed) {
    PrintScriptPlace(s, line);
    std::fprintf(s.Err, "error: %s\n", s.Warnings.detail.c_str());
  }
  s.Warnings.detail.clear();
  return printed;
}

