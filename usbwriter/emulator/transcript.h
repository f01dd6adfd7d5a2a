#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qs71::emu {

// The record of what crossed the wire, one line per report: "> " and the 64 request bytes
// for every report the library sent, "< " and the 64 reply bytes for every reply it got,
// lower-case hex without separators. Lines starting with '#' are comments. The file is
// appended to, so several calls make one transcript.
class Transcript {
 public:
  Transcript() = default;
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  // False when the file cannot be opened for appending. With wholeLines each line reaches the
  // file in one write, so that programmers appending to one file at once never split a line.
  bool Open(const std::string& path, bool wholeLines = false);
  void Comment(const std::string& text);
  void Request(const uint8_t* payload);
  void Reply(const uint8_t* payload);

 private:
  void Line(char direction, const uint8_t* payload);

  std::FILE* file = nullptr;
};

}  // namespace qs71::emu
