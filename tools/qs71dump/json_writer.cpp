#include "json_writer.h"

#include "dump_result.h"

std::string JsonQuote(std::string_view value) {
  std::string out = "\"";
  for (char c : value) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      out += Format("\\u%04X", u);
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void JsonWriter::Prefix(std::string_view key) {
  if (!counts_.empty()) {
    text_ += counts_.back()++ > 0 ? ",\n" : "\n";
    text_.append(2 * counts_.size(), ' ');
  }
  if (!key.empty()) text_ += JsonQuote(key) + ": ";
}

void JsonWriter::Close(char bracket) {
  const bool empty = counts_.back() == 0;
  counts_.pop_back();
  if (!empty) {
    text_ += "\n";
    text_.append(2 * counts_.size(), ' ');
  }
  text_ += bracket;
}

void JsonWriter::BeginObject(std::string_view key) {
  Prefix(key);
  text_ += "{";
  counts_.push_back(0);
}

void JsonWriter::EndObject() { Close('}'); }

void JsonWriter::BeginArray(std::string_view key) {
  Prefix(key);
  text_ += "[";
  counts_.push_back(0);
}

void JsonWriter::EndArray() { Close(']'); }

void JsonWriter::Int(std::string_view key, int64_t value) {
  Prefix(key);
  text_ += Format("%lld", static_cast<long long>(value));
}

void JsonWriter::Number(std::string_view key, double value) {
  Prefix(key);
  text_ += Format("%.3f", value);
}

void JsonWriter::Bool(std::string_view key, bool value) {
  Prefix(key);
  text_ += value ? "true" : "false";
}

void JsonWriter::String(std::string_view key, std::string_view value) {
  Prefix(key);
  text_ += JsonQuote(value);
}

void JsonWriter::Null(std::string_view key) {
  Prefix(key);
  text_ += "null";
}
