#pragma once
// The JSON that scripts read from the tools. Members come out in the order they are written
// and numbers in fixed formats, so that the same input gives the same bytes every time.
// Two readers want two shapes: qs71dump's report is one document that people read too,
// indented two spaces per level; qs71prog's --json is a stream of events, one document per
// line, so that a reader can take an event as soon as its line is complete.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class JsonLayout { kIndented, kOneLine };

// How control characters inside strings are written. kUnicode: every one as \u00XX with
// upper-case digits. kShort: the two-letter escapes JSON has (\b \f \n \r \t), \u00xx with
// lower-case digits for the rest. Either way '"' and '\' are escaped and well-formed UTF-8
// passes through unchanged; every byte that is not part of it (a name in another encoding, an
// overlong form, a surrogate, a code point above U+10FFFF) becomes U+FFFD, written \ufffd, so
// that the document stays UTF-8 whatever bytes a file name holds.
enum class JsonEscapes { kUnicode, kShort };

// value as a JSON string literal, quotes included.
std::string JsonQuote(std::string_view value, JsonEscapes escapes = JsonEscapes::kUnicode);

class JsonWriter {
 public:
  explicit JsonWriter(JsonLayout layout = JsonLayout::kIndented,
                      JsonEscapes escapes = JsonEscapes::kUnicode)
      : layout_(layout), escapes_(escapes) {}

  JsonWriter& BeginObject(std::string_view key = {});
  JsonWriter& EndObject();
  JsonWriter& BeginArray(std::string_view key = {});
  JsonWriter& EndArray();

  // Members of the current object (key) or elements of the current array (no key).
  JsonWriter& Int(std::string_view key, int64_t value);
  JsonWriter& Number(std::string_view key, double value);  // printed with 3 decimals
  JsonWriter& Bool(std::string_view key, bool value);
  JsonWriter& String(std::string_view key, std::string_view value);
  JsonWriter& Null(std::string_view key);

  // The document, ending with a line end once every object and array is closed.
  std::string Text() const { return text_ + "\n"; }

 private:
  JsonWriter& Scalar(std::string_view key, std::string_view json);
  void Prefix(std::string_view key);
  void Open(std::string_view key, char bracket);
  JsonWriter& Close(char bracket);
  void NewLine();

  JsonLayout layout_;
  JsonEscapes escapes_;
  std::string text_;
  std::vector<int> counts_;  // members written so far, per open level
};
