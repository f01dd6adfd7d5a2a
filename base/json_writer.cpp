#include "json_writer.h"

#include <cstdio>

#include "hex.h"
#include "utf8_text.h"

namespace {

struct ShortEscape {
  char raw;
  char letter;
};

constexpr ShortEscape kShortEscapes[] = {
    {'\b', 'b'}, {'\f', 'f'}, {'\n', 'n'}, {'\r', 'r'}, {'\t', 't'},
};

void AppendControl(std::string& out, unsigned char c, JsonEscapes escapes) {
  if (escapes == JsonEscapes::kShort) {
    for (const ShortEscape& escape : kShortEscapes) {
      if (c != static_cast<unsigned char>(escape.raw)) continue;
      out += '\\';
      out += escape.letter;
      return;
    }
  }
  out += "\\u00";
  AppendHexByte(out, c, escapes == JsonEscapes::kShort ? HexCase::kLower : HexCase::kUpper);
}

// "%.3f" of the largest double has 309 digits before the point.
std::string ThreeDecimals(double value) {
  char text[320];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

}  // namespace

std::string JsonQuote(std::string_view value, JsonEscapes escapes) {
  std::string out = "\"";
  for (size_t at = 0; at < value.size(); ++at) {
    const char c = value[at];
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      AppendControl(out, u, escapes);
    } else if (u < 0x80) {
      out += c;
    } else if (const size_t n = Utf8SequenceLength(value, at); n > 0) {
      out.append(value.substr(at, n));
      at += n - 1;
    } else {
      // A file name in another encoding: a JSON document must be UTF-8 throughout.
      out += "\\ufffd";
    }
  }
  return out + "\"";
}

void JsonWriter::NewLine() {
  if (layout_ == JsonLayout::kOneLine) return;
  text_ += '\n';
  text_.append(2 * counts_.size(), ' ');
}

void JsonWriter::Prefix(std::string_view key) {
  if (!counts_.empty()) {
    if (counts_.back()++ > 0) text_ += ',';
    NewLine();
  }
  if (key.empty()) return;
  text_ += JsonQuote(key, escapes_);
  text_ += layout_ == JsonLayout::kOneLine ? ":" : ": ";
}

void JsonWriter::Open(std::string_view key, char bracket) {
  Prefix(key);
  text_ += bracket;
  counts_.push_back(0);
}

JsonWriter& JsonWriter::Close(char bracket) {
  const bool empty = counts_.back() == 0;
  counts_.pop_back();
  if (!empty) NewLine();
  text_ += bracket;
  return *this;
}

JsonWriter& JsonWriter::Scalar(std::string_view key, std::string_view json) {
  Prefix(key);
  text_ += json;
  return *this;
}

JsonWriter& JsonWriter::BeginObject(std::string_view key) {
  Open(key, '{');
  return *this;
}

JsonWriter& JsonWriter::EndObject() { return Close('}'); }

JsonWriter& JsonWriter::BeginArray(std::string_view key) {
  Open(key, '[');
  return *this;
}

JsonWriter& JsonWriter::EndArray() { return Close(']'); }

JsonWriter& JsonWriter::Int(std::string_view key, int64_t value) {
  return Scalar(key, std::to_string(value));
}

JsonWriter& JsonWriter::Number(std::string_view key, double value) {
  return Scalar(key, ThreeDecimals(value));
}

JsonWriter& JsonWriter::Bool(std::string_view key, bool value) {
  return Scalar(key, value ? "true" : "false");
}

JsonWriter& JsonWriter::String(std::string_view key, std::string_view value) {
  return Scalar(key, JsonQuote(value, escapes_));
}

JsonWriter& JsonWriter::Null(std::string_view key) { return Scalar(key, "null"); }
