#include "line_splitter.h"

namespace qs71prog {

namespace {

std::string WithoutCarriageReturn(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::vector<std::string> LineSplitter::Feed(const char* data, std::size_t size) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] != '\n') {
      pending += data[i];
      if (pending.size() < kLongestLine) continue;
    }
    lines.push_back(WithoutCarriageReturn(std::move(pending)));
    pending.clear();
  }
  return lines;
}

std::optional<std::string> LineSplitter::Finish() {
  if (pending.empty()) return std::nullopt;
  std::string rest = WithoutCarriageReturn(std::move(pending));
  pending.clear();
  return rest;
}

}  // namespace qs71prog
