#pragma once
// A program's output, or a file it wrote, as the lines a reader sees: the newline ends a line
// and is not part of it, and text after the last newline is a line of its own.

#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}
