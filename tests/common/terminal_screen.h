#pragma once
// What a terminal shows for a stream of text: a carriage return goes back to the first
// column, later characters overwrite earlier ones, a newline ends the line; trailing blanks
// are dropped. Used to check that a progress bar never shares a line with a message.

#include <string>
#include <vector>

inline std::vector<std::string> TerminalScreen(const std::string& stream) {
  std::vector<std::string> lines(1);
  size_t column = 0;
  for (char c : stream) {
    if (c == '\n') {
      lines.emplace_back();
      column = 0;
    } else if (c == '\r') {
      column = 0;
    } else {
      std::string& line = lines.back();
      if (column < line.size()) {
        line[column] = c;
      } else {
        line += c;
      }
      ++column;
    }
  }
  for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
  return lines;
}
