#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qs71prog {

// The process's standard output and error, which qs71prog and the library share: qs71prog
// writes through copies of them (Console), and lends the originals to a pipe for the length
// of each library call (OutputCapture), cut into whole lines (LineSplitter).

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

// Lends one of the process's output descriptors to a pipe for the length of a library call.
// The library prints from inside the call, on the caller's thread, while the progress bar is
// drawn from another; only whole lines may reach a terminal that shows the bar. The thread
// that draws the bar also takes the pipe's bytes (Deliver), cuts them into lines and hands
// each line over whole, so that it can show every message printed before a reading of the
// cells ahead of the progress that reading gives.
class OutputCapture {
 public:
  using LineHandler = std::function<void(const std::string& line)>;

  OutputCapture(int fd, LineHandler handler) : fd(fd), handler(std::move(handler)) {}
  ~OutputCapture() { Stop(); }
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  // False when the descriptor cannot be taken over; output then goes where it went before.
  bool Start();
  // Hands over every whole line the pipe holds now, without waiting for more.
  void Deliver();
  // Flushes what the C runtime still holds, gives the descriptor back, and returns once
  // every line has been handed over.
  void Stop();

 private:
  void Feed(const char* bytes, long count);

  int fd;
  LineHandler handler;
  int saved = -1;
  int readFd = -1;
  std::mutex mutex;  // Deliver and Stop may come from different threads
  LineSplitter splitter;
};

}  // namespace qs71prog
