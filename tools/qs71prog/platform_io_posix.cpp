#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform_io.h"

namespace qs71prog {

bool MakePipe(int fds[2]) { return pipe(fds) == 0; }

int DuplicateFd(int fd) { return dup(fd); }

bool ReplaceFd(int source, int target) {
  int result;
  do {
    result = dup2(source, target);
  } while (result < 0 && errno == EINTR);
  return result >= 0;
}

void CloseFd(int fd) {
  if (fd >= 0) close(fd);
}

long ReadFd(int fd, char* buffer, std::size_t size) {
  ssize_t count;
  do {
    count = read(fd, buffer, size);
  } while (count < 0 && errno == EINTR);
  return static_cast<long>(count);
}

long BytesWaiting(int fd) {
  int count = 0;
  if (ioctl(fd, FIONREAD, &count) != 0) return -1;
  return count;
}

bool WriteFd(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool IsTerminal(int fd) { return isatty(fd) == 1; }

int TerminalColumns(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool SetEnvironment(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

void BufferStdoutByLine() { setvbuf(stdout, nullptr, _IOLBF, BUFSIZ); }

}  // namespace qs71prog
