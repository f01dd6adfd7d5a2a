#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qs71prog::test {

// One line of qs71prog --json, read just far enough for the tests: the value of a member
// that is a string or a number. Nested objects are not looked into.
struct JsonEvent {
  std::string line;

  bool Has(const std::string& key) const;
  std::string Text(const std::string& key) const;
  int64_t Number(const std::string& key) const;
};

std::vector<JsonEvent> ParseEvents(const std::string& out);

}  // namespace qs71prog::test
