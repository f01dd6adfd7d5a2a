#pragma once
// A small JSON writer for reports that scripts read: members come out in the order they are
// written, two spaces of indent per level, integers as integers, so that the same image
// gives the same bytes every time.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class JsonWriter {
 public:
  void BeginObject(std::string_view key = {});
  void EndObject();
  void BeginArray(std::string_view key = {});
  void EndArray();

  // Members of the current object (key) or elements of the current array (no key).
  void Int(std::string_view key, int64_t value);
  void Number(std::string_view key, double value);  // printed with 3 decimals
  void Bool(std::string_view key, bool value);
  void String(std::string_view key, std::string_view value);
  void Null(std::string_view key);

  // The document, ending with a line end once every object and array is closed.
  std::string Text() const { return text_ + "\n"; }

 private:
  void Prefix(std::string_view key);
  void Close(char bracket);

  std::string text_;
  std::vector<int> counts_;  // members written so far, per open level
};

// value as a JSON string literal, quotes included.
std::string JsonQuote(std::string_view value);
