#include "toml_text.h"

#include <cstring>

namespace {

// Walks the text as TOML's lexer would, only as far as telling strings and comments apart.
class NonAsciiScan {
 public:
  explicit NonAsciiScan(std::string_view text) : text_(text) {}

  unsigned FirstLine() {
    while (i_ < text_.size()) {
      if (text_[i_] == '#') Skip("\n", false);
      else if (At("\"\"\"")) i_ += 3, Skip("\"\"\"", true);
      else if (At("'''")) i_ += 3, Skip("'''", false);
      else if (text_[i_] == '"') ++i_, Skip("\"", true);
      else if (text_[i_] == '\'') ++i_, Skip("'", false);
      else if (static_cast<unsigned char>(text_[i_]) > 127) return line_;
      else Next();
      if (bad_) return line_;
    }
    return 0;
  }

 private:
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
    while (i_ < text_.size() && std::strchr(" \t\r\n", text_[i_]) != nullptr) Next();
    bad_ = i_ < text_.size() && static_cast<unsigned char>(text_[i_]) > 127;
  }

  std::string_view text_;
  size_t i_ = 0;
  unsigned line_ = 1;
  bool bad_ = false;
};

}  // namespace

std::string_view WithoutByteOrderMark(std::string_view text) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  return text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size()) : text;
}

unsigned FirstNonAsciiLineForToml(std::string_view text) { return NonAsciiScan(text).FirstLine(); }
