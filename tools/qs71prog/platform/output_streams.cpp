#include "platform/output_streams.h"

#include <cstdio>
#include <iostream>

#include "platform/host_system.h"

namespace qs71prog {

namespace {

constexpr int kDefaultColumns = 80;

// Falls back to the descriptor itself: printing directly still beats printing nothing.
int Copy(int fd) {
  const int copy = DuplicateFd(fd);
  return copy >= 0 ? copy : fd;
}

std::string WithoutCarriageReturn(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void FlushStandardStreams() {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(stdout);
  std::fflush(stderr);
}

}  // namespace

Console::Console()
    : out(Copy(kStdoutFd)),
      err(Copy(kStderrFd)),
      terminal(IsTerminal(kStdoutFd)),
      columns(kDefaultColumns) {
  const int width = terminal ? TerminalColumns(kStdoutFd) : 0;
  if (width > 0) columns = width;
}

Console::~Console() {
  if (out != kStdoutFd) CloseFd(out);
  if (err != kStderrFd) CloseFd(err);
}

void Console::Out(const std::string& text) { WriteFd(out, text.data(), text.size()); }

void Console::Err(const std::string& text) { WriteFd(err, text.data(), text.size()); }

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

bool OutputCapture::Start() {
  std::lock_guard<std::mutex> lock(mutex);
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
  readFd = fds[0];
  splitter = LineSplitter();
  return true;
}

void OutputCapture::Feed(const char* bytes, long count) {
  for (const std::string& line : splitter.Feed(bytes, static_cast<std::size_t>(count))) {
    handler(line);
  }
}

// Reads what the pipe holds when called and no more: it never waits for the library, and a
// library that keeps printing cannot keep it from returning.
void OutputCapture::Deliver() {
  std::lock_guard<std::mutex> lock(mutex);
  if (readFd < 0) return;
  char buffer[4096];
  for (long left = BytesWaiting(readFd); left > 0;) {
    const long wanted = left < long{sizeof buffer} ? left : long{sizeof buffer};
    const long count = ReadFd(readFd, buffer, static_cast<std::size_t>(wanted));
    if (count <= 0) return;
    Feed(buffer, count);
    left -= count;
  }
}

void OutputCapture::Stop() {
  Deliver();  // room in the pipe for what the flush below still has to write
  std::lock_guard<std::mutex> lock(mutex);
  if (saved < 0) return;
  FlushStandardStreams();
  ReplaceFd(saved, fd);
  CloseFd(saved);
  saved = -1;
  char buffer[4096];
  long count;
  while ((count = ReadFd(readFd, buffer, sizeof buffer)) > 0) Feed(buffer, count);
  if (const auto rest = splitter.Finish()) handler(*rest);
  CloseFd(readFd);
  readFd = -1;
}

}  // namespace qs71prog
