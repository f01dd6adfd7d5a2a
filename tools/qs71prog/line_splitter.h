#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qs71prog {

// Cuts a byte stream into lines as it arrives in pieces of any size. A carriage return
// before the newline is dropped, so lines printed through a Windows text-mode stream look
// the same.
class LineSplitter {
 public:
  std::vector<std::string> Feed(const char* data, std::size_t size);
  // What is left without a newline at the end of the stream.
  std::optional<std::string> Finish();

  // A line this long is passed on in pieces rather than held without end.
  static constexpr std::size_t kLongestLine = 65536;

 private:
  std::string pending;
};

}  // namespace qs71prog
