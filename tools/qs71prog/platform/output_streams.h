#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qs71prog {

// The process's standard output and error, which qs71prog writes through copies of
// (Console), and the library's text cut into whole lines (LineSplitter).

// Where the displays put their text. The console in the program, a string in the tests.
class TextSink {
 public:
  virtual ~TextSink() = default;
  virtual void Out(const std::string& text) = 0;
  virtual void Err(const std::string& text) = 0;
};

// qs71prog's own standard output and error. They are copies of descriptors 1 and 2 taken at
// start, so that what qs71prog prints still reaches the user while descriptors 1 and 2 are
// lent to the library's capture.
class Console : public TextSink {
 public:
  Console();
  ~Console() override;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  void Out(const std::string& text) override;
  void Err(const std::string& text) override;
  bool OutIsTerminal() const { return terminal; }
  int Columns() const { return columns; }

 private:
  int out;
  int err;
  bool terminal;
  int columns;
};

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
