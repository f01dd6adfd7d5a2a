#pragma once

#include <functional>
#include <string>
#include <thread>

namespace qs71prog {

// Lends one of the process's output descriptors to a pipe for the length of a library call.
// The library prints from inside the call, on the caller's thread, while the progress bar is
// drawn from another; only whole lines may reach a terminal that shows the bar. A reader
// thread takes the pipe's bytes, cuts them into lines and hands each line over whole.
class OutputCapture {
 public:
  using LineHandler = std::function<void(const std::string& line)>;

  OutputCapture(int fd, LineHandler handler) : fd(fd), handler(std::move(handler)) {}
  ~OutputCapture() { Stop(); }
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  // False when the descriptor cannot be taken over; output then goes where it went before.
  bool Start();
  // Flushes what the C runtime still holds, gives the descriptor back, and returns once
  // every line has been handed over.
  void Stop();

 private:
  void ReadLoop(int readFd);

  int fd;
  LineHandler handler;
  int saved = -1;
  std::thread reader;
};

}  // namespace qs71prog
