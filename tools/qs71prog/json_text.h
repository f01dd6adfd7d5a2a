#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qs71prog {

// A JSON string literal, quotes included. Bytes from 0x80 up pass through unchanged: the
// library's messages are ASCII and paths are taken to be UTF-8.
std::string JsonQuote(const std::string& text);

// One flat JSON object, built member by member in order, written as one line.
class JsonObject {
 public:
  JsonObject& Add(const char* key, const std::string& value);
  JsonObject& Add(const char* key, const char* value);
  JsonObject& Add(const char* key, int64_t value);
  JsonObject& Add(const char* key, int value) { return Add(key, int64_t{value}); }
  JsonObject& Add(const char* key, double value);
  JsonObject& Add(const char* key, bool value);
  JsonObject& Add(const char* key, const std::vector<std::string>& values);
  JsonObject& AddRaw(const char* key, const std::string& json);
  // The object and a newline.
  std::string Line() const;

 private:
  std::string members;
};

}  // namespace qs71prog
