#include "output_capture.h"

#include <cstdio>
#include <iostream>

#include "line_splitter.h"
#include "platform_io.h"

namespace qs71prog {

namespace {

void FlushStandardStreams() {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(stdout);
  std::fflush(stderr);
}

}  // namespace

bool OutputCapture::Start() {
  if (saved >= 0) return true;
  FlushStandardStreams();
  int fds[2];
  if (!MakePipe(fds)) return false;
  saved = DuplicateFd(fd);
  if (saved < 0 || !ReplaceFd(fds[1], fd)) {
    CloseFd(saved);
    saved = -1;
    CloseFd(fds[0]);
    CloseFd(fds[1]);
    return false;
  }
  // From here on the descriptor is the pipe's only writer, so giving it back ends the stream.
  CloseFd(fds[1]);
  reader = std::thread(&OutputCapture::ReadLoop, this, fds[0]);
  return true;
}

void OutputCapture::Stop() {
  if (saved < 0) return;
  FlushStandardStreams();
  ReplaceFd(saved, fd);
  CloseFd(saved);
  saved = -1;
  reader.join();
}

void OutputCapture::ReadLoop(int readFd) {
  LineSplitter splitter;
  char buffer[4096];
  long count;
  while ((count = ReadFd(readFd, buffer, sizeof buffer)) > 0) {
    for (const std::string& line : splitter.Feed(buffer, static_cast<std::size_t>(count))) {
      handler(line);
    }
  }
  if (const auto rest = splitter.Finish()) handler(*rest);
  CloseFd(readFd);
}

}  // namespace qs71prog
