#include "console.h"

#include "platform_io.h"

namespace qs71prog {

namespace {

constexpr int kDefaultColumns = 80;

// Falls back to the descriptor itself: printing directly still beats printing nothing.
int Copy(int fd) {
  const int copy = DuplicateFd(fd);
  return copy >= 0 ? copy : fd;
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

}  // namespace qs71prog
