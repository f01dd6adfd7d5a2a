#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <cerrno>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <thread>

#include "platform/host_system.h"

namespace qs71prog {

namespace {

// The name of the udev rule that packaging/udev/ installs.
constexpr const char* kUdevRuleName = "70-qs71-programmer.rules";

struct InterruptWatch {
  std::atomic<int> count{0};
  std::atomic<int> first{0};  // the first signal taken
  std::atomic<bool> stopping{false};
  sigset_t signals;
  int wake = 0;  // the watched signal that the job sends the watcher when it ends
  sigset_t previousMask;
  std::thread thread;
};

InterruptWatch& Watch() {
  static InterruptWatch watch;
  return watch;
}

// A signal the shell set to be ignored (nohup, a background job of a script) stays ignored.
bool Ignored(int number) {
  struct sigaction action {};
  return sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

void TakeSignals(InterruptWatch& watch) {
  for (;;) {
    int taken = 0;
    if (sigwait(&watch.signals, &taken) != 0) continue;
    if (watch.stopping) return;
    int none = 0;
    watch.first.compare_exchange_strong(none, taken);
    ++watch.count;
  }
}

}  // namespace

int DuplicateFd(int fd) { return dup(fd); }

void CloseFd(int fd) {
  if (fd >= 0) close(fd);
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

namespace {

// strerror_r's GNU form, which glibc gives C++: the text may be a static one, not buffer.
std::string SystemWords(int number) {
  char buffer[256] = {};
  return strerror_r(number, buffer, sizeof buffer);
}

// failure, with the system's words for errno in reason.
template <typename Value>
Value Failed(std::string& reason, Value failure) {
  reason = SystemWords(errno);
  return failure;
}

}  // namespace

int OpenForAppend(const std::string& path, std::string& reason) {
  const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  return fd >= 0 ? fd : Failed(reason, -1);
}

long long FileSize(int fd, std::string& reason) {
  struct stat status;
  if (fstat(fd, &status) != 0) return Failed(reason, -1LL);
  return static_cast<long long>(status.st_size);
}

int LastByte(int fd, long long size, std::string& reason) {
  unsigned char last = 0;
  const ssize_t read = pread(fd, &last, 1, static_cast<off_t>(size - 1));
  if (read == 1) return last;
  if (read < 0) return Failed(reason, -1);
  reason = "it ended before its size";
  return -1;
}

bool CutBack(int fd, long long size, std::string& reason) {
  while (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) return Failed(reason, false);
  }
  return true;
}

// A write cut short by a size limit or a full disk ends with the error on the next try,
// which gives the reason.
bool AppendWhole(int fd, const std::string& text, long long before, std::string& reason) {
  const char* data = text.data();
  std::size_t size = text.size();
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      reason = written < 0 ? SystemWords(errno) : "the system took none of it";
      std::string cut;
      if (!CutBack(fd, before, cut)) reason += "; cutting it back failed too: " + cut;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool SyncFd(int fd, std::string& reason) {
  while (fsync(fd) != 0) {
    if (errno != EINTR) return Failed(reason, false);
  }
  return true;
}

// A file renamed, or its folder, keeps its links; one deleted (rm, rm -rf of its folder)
// has none left.
FileAtPath CompareWithPath(int fd, const std::string& path, std::string& reason) {
  struct stat opened;
  struct stat named;
  if (fstat(fd, &opened) != 0) return Failed(reason, FileAtPath::kUnknown);
  if (stat(path.c_str(), &named) == 0) {
    const bool same = named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
    return same ? FileAtPath::kSame : FileAtPath::kNotThisOne;
  }
  if (errno != ENOENT && errno != ENOTDIR) return Failed(reason, FileAtPath::kUnknown);
  return opened.st_nlink == 0 ? FileAtPath::kGone : FileAtPath::kNotThisOne;
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string SystemTextInUtf8(const std::string& text) { return text; }

bool FileNamesInUtf8() { return true; }

long ProcessId() { return static_cast<long>(getpid()); }

bool ProcessRunning(long pid) {
  return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

std::tm UtcCalendar(std::time_t seconds) {
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  return utc;
}

std::tm LocalCalendar(std::time_t seconds) {
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

bool IsTerminal(int fd) { return isatty(fd) == 1; }

int TerminalColumns(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void BufferStdoutByLine() { setvbuf(stdout, nullptr, _IOLBF, BUFSIZ); }

std::string PathIn(const std::string& folder, const std::string& file) {
  return folder + '/' + file;
}

// CMake's GNUInstallDirs puts programs in bin/ and libraries in lib/ beside it.
std::vector<std::string> InstalledLibraryPaths(const std::string& executableDirectory,
                                               const std::string& file) {
  return {PathIn(executableDirectory, file), executableDirectory + "/../lib/" + file};
}

bool MayOpen(const std::string& path) { return access(path.c_str(), R_OK | W_OK) == 0; }

std::string AccessRuleInstructions() {
  return std::string("install the udev rule ") + kUdevRuleName +
         " (packaging/udev/ in the sources, lib/udev/rules.d/ after cmake --install):\n"
         "  sudo cp " +
         kUdevRuleName +
         " /etc/udev/rules.d/\n"
         "  sudo udevadm control --reload-rules && sudo udevadm trigger\n"
         "then unplug the programmer and plug it in again.";
}

void StartCountingInterrupts() {
  InterruptWatch& watch = Watch();
  if (watch.thread.joinable()) return;
  sigemptyset(&watch.signals);
  watch.wake = 0;
  for (const int taken : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    if (Ignored(taken)) continue;
    sigaddset(&watch.signals, taken);
    if (watch.wake == 0) watch.wake = taken;
  }
  if (watch.wake == 0) return;
  pthread_sigmask(SIG_BLOCK, &watch.signals, &watch.previousMask);
  watch.stopping = false;
  watch.count = 0;
  watch.first = 0;
  watch.thread = std::thread(TakeSignals, std::ref(watch));
}

// The watcher is woken by a signal of its own; one that arrives while it stops is simply
// not counted any more, since the job is over.
void StopCountingInterrupts() {
  InterruptWatch& watch = Watch();
  if (!watch.thread.joinable()) return;
  watch.stopping = true;
  pthread_kill(watch.thread.native_handle(), watch.wake);
  watch.thread.join();
  pthread_sigmask(SIG_SETMASK, &watch.previousMask, nullptr);
}

int InterruptCount() { return Watch().count; }

std::string InterruptName() {
  switch (Watch().first.load()) {
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGQUIT:
      return "SIGQUIT";
    default:
      return "Ctrl-C";
  }
}

// A launcher may start qs71prog with Ctrl-C ignored (a service, nohup, a front end that
// handles the keyboard itself); that choice stands, and the run says how else to stop it.
bool InterruptIgnored() { return Ignored(SIGINT); }

}  // namespace qs71prog
