#include "toml_text.h"

#include <cstring>
#include <string>

namespace {

// Whether c is one of set: strchr would take a NUL byte for the set's own end.
bool OneOf(const char* set, char c) { return c != '\0' && std::strchr(set, c) != nullptr; }

// Walks the text as TOML's lexer would, only as far as telling strings and comments apart.
class NonAsciiScan {
 public:
  explicit NonAsciiScan(std::string_view text) : text_(text) {}

  unsigned FirstLine() {
    while (i_ < text_.size()) {
      const char c = text_[i_];
      const bool quote = (c == '"' || c == '\'') && StringMayStart();
      if (c == '#') Skip("\n", false);
      else if (quote && At("\"\"\"")) i_ += 3, Skip("\"\"\"", true);
      else if (quote && At("\'\'\'")) i_ += 3, Skip("\'\'\'", false);
      else if (quote) ++i_, Skip(c == '"' ? "\"" : "'", c == '"');
      else if (static_cast<unsigned char>(c) > 127) return line_;
      else Next();
      if (bad_) return line_;
      Follow(c, quote);
    }
    return 0;
  }

 private:
  // What the text so far is a part of, outside strings: nothing yet (after a blank, a line's
  // start, '=', a bracket or a comma), a key (bare-key characters, quoted parts and dots), or
  // a value or a bare word that is no key (a number, a date, a mistake).
  enum class Word { kNone, kKey, kOther };

  static bool KeyCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
  }

  // Where a value stands: after '=', and an array's item after its '[' or a ','.
  bool ValuePosition() const {
    return last_ == '=' ||
           (!open_.empty() && open_.back() == '[' && (last_ == '[' || last_ == ','));
  }

  // toml++ reads a bare word on to a blank, a line's end, ',', ']', '}' or '#', whatever
  // else it holds: '=', '[' and '{' end a key, never such a word. An array or an inline table
  // opened where a value stands is kept until it closes, so that its items are known apart
  // from its keys.
  void Follow(char c, bool quote) {
    const bool value = ValuePosition();
    if (c == '#' || OneOf(" \t\r\n,]}", c)) {
      word_ = Word::kNone;
      if (!open_.empty() && open_.back() == (c == ']' ? '[' : c == '}' ? '{' : ' '))
        open_.pop_back();
    } else if (word_ == Word::kOther) {
      return;
    } else if (c == '[' || c == '{' || c == '=') {
      if (value && c != '=') open_.push_back(c);
      word_ = Word::kNone;
    } else if (quote || (word_ == Word::kNone && value)) {
      word_ = value ? Word::kOther : Word::kKey;
    } else if (KeyCharacter(c)) {
      word_ = Word::kKey;
    } else if (c != '.') {
      word_ = Word::kOther;
    }
    if (c != ' ' && c != '\t') last_ = c == '#' ? '\n' : c;
  }

  // Where TOML has a string: a key's at a line's start, a value's after '=', an array's item
  // after '[' or ',', an inline table's key after '{' or ',', a dotted key's part after a
  // key's '.'. A quote anywhere else (after "-" or "1//x", say) stands in a bare word that
  // toml++ reads on as one, non-ASCII bytes and all, so what follows it is no string here.
  bool StringMayStart() const {
    if (word_ == Word::kOther) return false;
    return last_ == '.' || OneOf("\n=[,{", last_);
  }

  bool At(const char* s) const { return text_.compare(i_, std::strlen(s), s) == 0; }
  void Next() { line_ += text_[i_++] == '\n' ? 1 : 0; }

  // To the end of a string or a comment (the end is taken too, but a comment's line end).
  void Skip(const char* end, bool escapes) {
    const bool multi = std::strlen(end) == 3;
    while (i_ < text_.size() && !bad_) {
      if (At(end)) {
        if (end[0] != '\n') i_ += std::strlen(end);
        while (multi && i_ < text_.size() && text_[i_] == end[0]) ++i_;  // up to two quotes more
        return;
      }
      if (!multi && text_[i_] == '\n') return;
      if (escapes && text_[i_] == '\\') {
        ++i_;
        // No escape goes on with a byte above 127, nor with blanks and then one: toml++ asks of
        // each whether it is the whitespace of a line-ending backslash.
        size_t j = i_;
        while (j < text_.size() && (text_[j] == ' ' || text_[j] == '\t')) ++j;
        bad_ = j < text_.size() && static_cast<unsigned char>(text_[j]) > 127;
        if (multi && LineEnds()) SkipWhitespace();
        else if (i_ < text_.size()) Next();
        continue;
      }
      Next();
    }
  }

  bool LineEnds() const {
    size_t j = i_;
    while (j < text_.size() && (text_[j] == ' ' || text_[j] == '\t' || text_[j] == '\r')) ++j;
    return j < text_.size() && text_[j] == '\n';
  }

  void SkipWhitespace() {
    while (i_ < text_.size() && OneOf(" \t\r\n", text_[i_])) Next();
    bad_ = i_ < text_.size() && static_cast<unsigned char>(text_[i_]) > 127;
  }

  std::string_view text_;
  size_t i_ = 0;
  unsigned line_ = 1;
  char last_ = '\n';  // the last character outside strings and comments, blanks passed over
  Word word_ = Word::kNone;
  std::string open_;  // the arrays ('[') and inline tables ('{') open where values stand
  bool bad_ = false;
};

}  // namespace

std::string_view WithoutByteOrderMark(std::string_view text) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  return text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size()) : text;
}

unsigned FirstNonAsciiLineForToml(std::string_view text) { return NonAsciiScan(text).FirstLine(); }
