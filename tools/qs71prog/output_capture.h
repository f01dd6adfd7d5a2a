#pragma once

#include <functional>
#include <string>
#include <mutex>

#include "line_splitter.h"

namespace qs71prog {

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
