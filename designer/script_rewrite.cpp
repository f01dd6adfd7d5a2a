#include "script_rewrite.h"

#include <algorithm>
#include <memory>
#include <string_view>

#include "ascii_case.h"
#include "compile_state.h"
#include "grammar.tab.h"
#include "script/scanner.h"
#include "sound_kinds.h"

namespace {

struct Token {
  int code;
  size_t start, end;  // byte positions in the text
};

struct Replacement {
  size_t start, end;
  std::string text;
};

bool IsCodecKeyword(int code) { return code == T_ADPCM || code == T_PCM8 || code == T_PCM16 || code == T_ULAW; }

// The script's lines as the scanner sees them, each without its line end.
std::vector<std::vector<Token>> ScanLines(const std::string& text, FILE* messages) {
  auto s = std::make_unique<CompileState>();  // the scanner's home; large, so not on the stack
  s->Out = s->Err = messages;
  ScannerReset(*s, nullptr);
  s->Scan.text = text;
  std::vector<std::vector<Token>> lines(1);
  for (;;) {
    int32_t value = 0;
    const int code = ScanToken(*s, &value);
    if (code <= 0 || ScannerFailure(*s) != nullptr) break;
    if (code == '\n') lines.emplace_back();
    else if (code != T_REMARK) lines.back().push_back({code, s->Scan.lastTokenPos, s->Scan.pos});
  }
  return lines;
}

const ScriptEdit* EditOf(const std::vector<ScriptEdit>& edits, std::string_view name) {
  for (const ScriptEdit& e : edits) {
    if (EqualsNoCase(e.sound, name)) return &e;
  }
  return nullptr;
}

// The keyword as the script spells it: all in lower case when the old one was.
std::string Keyword(int32_t kind, std::string_view old) {
  const SoundKindInfo* info = FindSoundKind(kind);
  std::string word = info != nullptr ? info->statement : "";
  return old == AsciiLowerCopy(old) ? AsciiLowerCopy(word) : word;
}

// `.ADPCM name = "file"`: the keyword, for the sound's first definition.
void EditDefinition(const std::string& text, const std::vector<Token>& line, const std::vector<ScriptEdit>& edits,
                    std::vector<std::string>* defined, std::vector<Replacement>* out) {
  if (line.size() < 2 || !IsCodecKeyword(line[0].code) || line[1].code != T_USR_VAR) return;
  const std::string name = AsciiLowerCopy(std::string_view(text).substr(line[1].start, line[1].end - line[1].start));
  if (std::find(defined->begin(), defined->end(), name) != defined->end()) return;
  defined->push_back(name);
  const ScriptEdit* edit = EditOf(edits, name);
  if (edit == nullptr || edit->kind == 0) return;
  const std::string_view old = std::string_view(text).substr(line[0].start, line[0].end - line[0].start);
  out->push_back({line[0].start, line[0].end, Keyword(edit->kind, old)});
}

// `.SECTION [n] $GROUPS = name(rate):flag`: the tokens between the parentheses after the name.
void EditLink(const std::string& text, const std::vector<Token>& line, const std::vector<ScriptEdit>& edits,
              std::vector<Replacement>* out) {
  if (line.empty() || line[0].code != T_SECTION) return;
  size_t i = 0;
  while (i < line.size() && line[i].code != T_GROUPS) ++i;
  if (i + 3 >= line.size() || line[i + 1].code != '=' || line[i + 2].code != T_USR_VAR || line[i + 3].code != '(') return;
  const Token& name = line[i + 2];
  const ScriptEdit* edit = EditOf(edits, std::string_view(text).substr(name.start, name.end - name.start));
  if (edit == nullptr || edit->rate == 0) return;
  const size_t open = i + 3;
  int depth = 0;
  for (size_t j = open; j < line.size(); ++j) {
    depth += line[j].code == '(' ? 1 : line[j].code == ')' ? -1 : 0;
    if (depth != 0) continue;
    if (j > open + 1) out->push_back({line[open + 1].start, line[j - 1].end, std::to_string(edit->rate)});
    return;
  }
}

}  // namespace

std::string RewriteScript(const std::string& text, const std::vector<ScriptEdit>& edits, FILE* messages) {
  std::vector<Replacement> replacements;
  std::vector<std::string> defined;
  for (const std::vector<Token>& line : ScanLines(text, messages)) {
    EditDefinition(text, line, edits, &defined, &replacements);
    EditLink(text, line, edits, &replacements);
  }
  std::string out = text;
  // From the end, so that every position still holds.
  std::sort(replacements.begin(), replacements.end(), [](const auto& a, const auto& b) { return a.start > b.start; });
  for (const Replacement& r : replacements) {
    if (out.compare(r.start, r.end - r.start, r.text) != 0) out.replace(r.start, r.end - r.start, r.text);
  }
  return out;
}
