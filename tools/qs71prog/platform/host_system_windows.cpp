#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/host_system.h"

namespace qs71prog {

namespace {

std::atomic<int> interrupts{0};

// Runs in a thread that the console starts for the event, never in the library's.
BOOL WINAPI CountInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  ++interrupts;
  return TRUE;
}

}  // namespace

bool MakePipe(int fds[2]) { return _pipe(fds, 65536, _O_BINARY | _O_NOINHERIT) == 0; }

int DuplicateFd(int fd) { return _dup(fd); }

bool ReplaceFd(int source, int target) { return _dup2(source, target) == 0; }

void CloseFd(int fd) {
  if (fd >= 0) _close(fd);
}

long ReadFd(int fd, char* buffer, std::size_t size) {
  return _read(fd, buffer, static_cast<unsigned>(size));
}

long BytesWaiting(int fd) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD count = 0;
  if (!PeekNamedPipe(handle, nullptr, 0, nullptr, &count, nullptr)) return -1;
  return static_cast<long>(count);
}

bool WriteFd(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const int written = _write(fd, data, static_cast<unsigned>(size));
    if (written <= 0) return false;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

int OpenForAppend(const std::string& path) {
  int fd = -1;
  const errno_t error = _sopen_s(&fd, path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY,
                                 _SH_DENYNO, _S_IREAD | _S_IWRITE);
  return error == 0 ? fd : -1;
}

long long FileSize(int fd) { return _filelengthi64(fd); }

bool SyncFd(int fd) { return _commit(fd) == 0; }

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

std::tm UtcCalendar(std::time_t seconds) {
  std::tm utc{};
  gmtime_s(&utc, &seconds);
  return utc;
}

bool IsTerminal(int fd) { return _isatty(fd) != 0; }

int TerminalColumns(int fd) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(handle, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool SetEnvironment(const std::string& name, const std::string& value) {
  return _putenv_s(name.c_str(), value.c_str()) == 0;
}

// The Microsoft C runtime treats _IOLBF as full buffering; unbuffered output still comes
// whole per message, since the library formats each message before printing it.
void BufferStdoutByLine() { setvbuf(stdout, nullptr, _IONBF, 0); }

std::string ExecutableDirectory() {
  char buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return "";
  const std::string executable(buffer, length);
  const size_t separator = executable.find_last_of("\\/");
  return separator == std::string::npos ? "" : executable.substr(0, separator);
}

std::string PathIn(const std::string& folder, const std::string& file) {
  return folder + '\\' + file;
}

// Windows hosts keep their DLLs beside the program.
std::vector<std::string> InstalledLibraryPaths(const std::string& executableDirectory,
                                               const std::string& file) {
  return {PathIn(executableDirectory, file)};
}

std::vector<ProgrammerNode> FindProgrammers() { return {}; }

std::string AccessRuleInstructions() { return ""; }

void StartCountingInterrupts() {
  interrupts = 0;
  SetConsoleCtrlHandler(CountInterrupt, TRUE);
}

void StopCountingInterrupts() { SetConsoleCtrlHandler(CountInterrupt, FALSE); }

int InterruptCount() { return interrupts; }

}  // namespace qs71prog
