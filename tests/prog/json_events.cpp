#include "json_events.h"

#include <cstdlib>

#include "output_lines.h"

namespace qs71prog::test {

namespace {

size_t ValueStart(const std::string& line, const std::string& key) {
  const std::string marker = "\"" + key + "\":";
  const size_t at = line.find(marker);
  return at == std::string::npos ? at : at + marker.size();
}

}  // namespace

bool JsonEvent::Has(const std::string& key) const {
  return ValueStart(line, key) != std::string::npos;
}

std::string JsonEvent::Text(const std::string& key) const {
  const size_t start = ValueStart(line, key);
  if (start == std::string::npos || line[start] != '"') return "";
  std::string text;
  for (size_t i = start + 1; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    text += line[i];
  }
  return text;
}

int64_t JsonEvent::Number(const std::string& key) const {
  const size_t start = ValueStart(line, key);
  if (start == std::string::npos) return INT64_MIN;
  return std::strtoll(line.c_str() + start, nullptr, 10);
}

std::vector<JsonEvent> ParseEvents(const std::string& out) {
  std::vector<JsonEvent> events;
  for (const std::string& line : Lines(out)) events.push_back({line});
  return events;
}

}  // namespace qs71prog::test
