#include "toml_guard.h"

#include <vector>

namespace {

const char kOutside[] = "a character that is not ASCII outside quotes and comments";
const char kInValue[] =
    "a character that is not ASCII in a value that is no text (a quote opens a text only at the start of a value)";
const char kEscaped[] = "a character that is not ASCII after a backslash in a text";
const char kAfterLineEnd[] = "a character that is not ASCII first after a line-ending backslash in a \"\"\" text";

bool High(char c) { return static_cast<unsigned char>(c) > 127; }

bool OneOf(char c, const char* set) {
  for (; *set != '\0'; ++set) {
    if (c == *set) return true;
  }
  return false;
}

// What toml++ expects at the next token: a key (or a table's name), a value, or the end of one.
enum class Place { Key, Value, AfterValue };

// A reading of the text as toml++ tokenises it, as far as it must go to know where toml++ takes
// a quote for the start of a text. Where a text is malformed toml++ stops at that point, before
// anything further is tested, so only the well-formed paths need to be followed exactly.
class TomlScan {
 public:
  explicit TomlScan(std::string_view text) : text_(text) {}

  TomlHazard Run() {
    if (text_.starts_with("\xEF\xBB\xBF")) i_ = 3;
    while (i_ < text_.size() && hazard_.line == 0) Step();
    return hazard_;
  }

 private:
  void Step() {
    const char c = text_[i_];
    if (c == '\n') {
      ++line_, ++i_;
      if (open_.empty()) place_ = Place::Key;
    } else if (OneOf(c, " \t\r\v\f")) {
      ++i_;  // toml++ refuses a vertical tab or a form feed; no text starts at either
    } else if (c == '#') {
      while (i_ < text_.size() && text_[i_] != '\n') ++i_;
    } else if (High(c)) {
      Fault(kOutside);
    } else if (place_ == Place::Key) {
      KeyToken(c);
    } else if (place_ == Place::Value) {
      ValueToken(c);
    } else {
      AfterValueToken(c);
    }
  }

  // A quote anywhere in a key is taken as a text: where toml++ does not take it so, it stops
  // at the quote with an error.
  void KeyToken(char c) {
    if (c == '"' || c == '\'') return Text();
    if (c == '=') place_ = Place::Value;
    if (c == ']') place_ = Place::AfterValue;  // the end of a table's name
    if (c == '}') Close();                      // an empty inline table
    ++i_;
  }

  void ValueToken(char c) {
    if (c == '"' || c == '\'') {
      Text();
      place_ = Place::AfterValue;
    } else if (c == '[' || c == '{') {
      open_.push_back(c);
      if (c == '{') place_ = Place::Key;
      ++i_;
    } else if (c == ']' || c == '}') {
      Close();  // an empty array
      ++i_;
    } else if (c == ',') {
      ++i_;
    } else {
      BareValue();
      place_ = Place::AfterValue;
    }
  }

  // After a value only a separator or the end of a container may follow; anything else is
  // read as a bare value, in which quotes open no text.
  void AfterValueToken(char c) {
    if (c == ',') {
      place_ = !open_.empty() && open_.back() == '{' ? Place::Key : Place::Value;
      ++i_;
    } else if (c == ']' || c == '}') {
      Close();
      ++i_;
    } else {
      BareValue();
    }
  }

  void Close() {
    if (!open_.empty()) open_.pop_back();
    place_ = Place::AfterValue;
  }

  // A number, a date, true, inf...: toml++ scans it up to the next blank, ',', ']', '}' or '#',
  // testing every character, quotes included, for whitespace on the way.
  void BareValue() {
    // What the caller found first starts the value, whatever it is (never a byte above 127).
    bool quoted = text_[i_] == '"' || text_[i_] == '\'';
    for (++i_; i_ < text_.size(); ++i_) {
      const char c = text_[i_];
      if (OneOf(c, " \t\r\n\v\f,]}#")) return;
      if (High(c)) return Fault(quoted ? kInValue : kOutside);
      quoted = quoted || c == '"' || c == '\'';
    }
  }

  bool AtThree(char quote) const {
    return text_.size() - i_ >= 3 && text_[i_] == quote && text_[i_ + 1] == quote && text_[i_ + 2] == quote;
  }

  // A text in quotes, to just past its end (a single-line one that a line ends, to the line end).
  void Text() {
    const char quote = text_[i_];
    const bool multi = AtThree(quote);
    i_ += multi ? 3 : 1;
    while (i_ < text_.size() && hazard_.line == 0) {
      const char c = text_[i_];
      if (c == quote && (!multi || AtThree(quote))) return EndText(quote, multi);
      if (c == '\n' && !multi) return;
      if (c == '\n') ++line_;
      if (c == '\\' && quote == '"') {
        Escape(multi);
      } else {
        ++i_;
      }
    }
  }

  // """ is the end; one or two quotes more belong to the text, as toml++ reads them.
  void EndText(char quote, bool multi) {
    i_ += multi ? 3 : 1;
    for (int more = 0; multi && more < 2 && i_ < text_.size() && text_[i_] == quote; ++more) ++i_;
  }

  // toml++ tests the character after a backslash in a """ text for whitespace; a blank there
  // starts a line-ending backslash, after which it skips blanks and line ends, testing the
  // first character that is neither.
  void Escape(bool multi) {
    ++i_;
    if (i_ >= text_.size()) return;
    const char c = text_[i_];
    if (High(c)) return Fault(kEscaped);
    if (multi && OneOf(c, " \t\n\v\f\r")) {
      for (; i_ < text_.size() && OneOf(text_[i_], " \t\r\n"); ++i_) line_ += text_[i_] == '\n' ? 1 : 0;
      if (i_ < text_.size() && High(text_[i_])) Fault(kAfterLineEnd);
      return;
    }
    if (c != '\n') ++i_;  // the escaped character; a line end closes a single-line text
  }

  void Fault(const char* what) { hazard_ = {line_, what}; }

  std::string_view text_;
  size_t i_ = 0;
  unsigned line_ = 1;
  Place place_ = Place::Key;
  std::vector<char> open_;  // '[' of each array open, '{' of each inline table
  TomlHazard hazard_;
};

}  // namespace

TomlHazard FindTomlHazard(std::string_view text) { return TomlScan(text).Run(); }

std::string_view WithoutByteOrderMark(std::string_view text) {
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  return text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size()) : text;
}
