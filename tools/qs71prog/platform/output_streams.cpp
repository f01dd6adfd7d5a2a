#include "platform/output_streams.h"

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

}  // namespace qs71prog
