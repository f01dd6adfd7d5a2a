#include "json_text.h"

#include <cstdio>

namespace qs71prog {

namespace {

struct Escape {
  char raw;
  const char* escaped;
};

constexpr Escape kEscapes[] = {
    {'"', "\\\""}, {'\\', "\\\\"}, {'\b', "\\b"}, {'\f', "\\f"},
    {'\n', "\\n"}, {'\r', "\\r"},  {'\t', "\\t"},
};

void AppendChar(std::string& out, char c) {
  for (const Escape& escape : kEscapes) {
    if (c != escape.raw) continue;
    out += escape.escaped;
    return;
  }
  if (static_cast<unsigned char>(c) < 0x20) {
    char code[8];
    std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
    out += code;
    return;
  }
  out += c;
}

}  // namespace

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) AppendChar(out, c);
  return out + "\"";
}

JsonObject& JsonObject::AddRaw(const char* key, const std::string& json) {
  if (!members.empty()) members += ",";
  members += JsonQuote(key) + ":" + json;
  return *this;
}

JsonObject& JsonObject::Add(const char* key, const std::string& value) {
  return AddRaw(key, JsonQuote(value));
}

JsonObject& JsonObject::Add(const char* key, const char* value) {
  return AddRaw(key, JsonQuote(value));
}

JsonObject& JsonObject::Add(const char* key, int64_t value) {
  return AddRaw(key, std::to_string(value));
}

JsonObject& JsonObject::Add(const char* key, double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return AddRaw(key, text);
}

JsonObject& JsonObject::Add(const char* key, bool value) {
  return AddRaw(key, value ? "true" : "false");
}

JsonObject& JsonObject::Add(const char* key, const std::vector<std::string>& values) {
  std::string list = "[";
  for (const std::string& value : values) {
    if (list.size() > 1) list += ",";
    list += JsonQuote(value);
  }
  return AddRaw(key, list + "]");
}

std::string JsonObject::Line() const { return "{" + members + "}\n"; }

}  // namespace qs71prog
