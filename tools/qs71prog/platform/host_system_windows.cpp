#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/host_system.h"

namespace qs71prog {

namespace {

std::atomic<int> interrupts{0};
std::atomic<const char*> firstInterrupt{nullptr};
HANDLE jobOver = nullptr;  // set when the job stops counting: it has reported and logged

struct ConsoleEvent {
  DWORD event;
  const char* name;
  bool ending;  // Windows ends the process a few seconds after the handler is called
};

constexpr ConsoleEvent kConsoleEvents[] = {
    {CTRL_C_EVENT, "Ctrl-C", false},
    {CTRL_BREAK_EVENT, "Ctrl-Break", false},
    {CTRL_CLOSE_EVENT, "console close", true},
    {CTRL_LOGOFF_EVENT, "logoff", true},
    {CTRL_SHUTDOWN_EVENT, "shutdown", true},
};

// Windows waits about five seconds for a handler of the close, logoff or shutdown event before
// it ends the process. The step under way is given most of them to finish; then the calls
// are cancelled, which takes a chunk, and the part is recorded before the time is up.
constexpr DWORD kFinishMillis = 3500;
constexpr DWORD kCancelMillis = 1200;

// Runs in a thread that the console starts for the event, never in the library's.
BOOL WINAPI CountInterrupt(DWORD event) {
  const ConsoleEvent* found = nullptr;
  for (const ConsoleEvent& entry : kConsoleEvents) {
    if (entry.event == event) found = &entry;
  }
  if (found == nullptr) return FALSE;
  const char* none = nullptr;
  firstInterrupt.compare_exchange_strong(none, found->name);
  ++interrupts;
  if (found->ending && jobOver != nullptr &&
      WaitForSingleObject(jobOver, kFinishMillis) != WAIT_OBJECT_0) {
    ++interrupts;
    WaitForSingleObject(jobOver, kCancelMillis);
  }
  return TRUE;
}

}  // namespace

int DuplicateFd(int fd) { return _dup(fd); }

void CloseFd(int fd) {
  if (fd >= 0) _close(fd);
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

namespace {

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// The system's words for an error code, without the closing full stop and line end, so that
// they fit after a colon: "There is not enough space on the disk".
std::string SystemWords(DWORD code) {
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == '.' || text[length - 1] == ' ')) {
    --length;
  }
  return length > 0 ? std::string(text, length) : "system error " + std::to_string(code);
}

// failure, with the system's words for the calling thread's last error in reason.
template <typename Value>
Value Failed(std::string& reason, Value failure) {
  reason = SystemWords(GetLastError());
  return failure;
}

}  // namespace

// FILE_APPEND_DATA: the system puts every write at the end of the file, whoever else appends;
// the C runtime's append mode seeks and then writes, which lets two processes overwrite each
// other's rows. FILE_WRITE_DATA is there only to cut a failed row back off; appends still go
// to the end, since they are written at the offset that means "the end".
int OpenForAppend(const std::string& path, std::string& reason) {
  const HANDLE file = CreateFileA(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | FILE_WRITE_DATA |
                                                    FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Failed(reason, -1);
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_BINARY);
  if (fd < 0) {
    reason = "the C runtime has no descriptor left for it";
    CloseHandle(file);
  }
  return fd;
}

long long FileSize(int fd, std::string& reason) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(HandleOf(fd), &size)) return Failed(reason, -1LL);
  return size.QuadPart;
}

int LastByte(int fd, long long size, std::string& reason) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(size - 1);
  at.OffsetHigh = static_cast<DWORD>((size - 1) >> 32);
  unsigned char last = 0;
  DWORD read = 0;
  if (!ReadFile(HandleOf(fd), &last, 1, &read, &at)) return Failed(reason, -1);
  if (read == 1) return last;
  reason = "it ended before its size";
  return -1;
}

bool CutBack(int fd, long long size, std::string& reason) {
  FILE_END_OF_FILE_INFO length{};
  length.EndOfFile.QuadPart = size;
  if (SetFileInformationByHandle(HandleOf(fd), FileEndOfFileInfo, &length, sizeof length)) {
    return true;
  }
  return Failed(reason, false);
}

bool AppendWhole(int fd, const std::string& text, long long before, std::string& reason) {
  OVERLAPPED end{};
  end.Offset = 0xFFFFFFFF;
  end.OffsetHigh = 0xFFFFFFFF;
  DWORD written = 0;
  if (WriteFile(HandleOf(fd), text.data(), static_cast<DWORD>(text.size()), &written, &end)) {
    if (written == text.size()) return true;
    reason = "the system took only part of it";
  } else {
    reason = SystemWords(GetLastError());
  }
  std::string cut;
  if (!CutBack(fd, before, cut)) reason += "; cutting it back failed too: " + cut;
  return false;
}

bool SyncFd(int fd, std::string& reason) {
  return FlushFileBuffers(HandleOf(fd)) ? true : Failed(reason, false);
}

namespace {

bool IdentityOf(HANDLE file, BY_HANDLE_FILE_INFORMATION& identity, std::string& reason) {
  return GetFileInformationByHandle(file, &identity) ? true : Failed(reason, false);
}

// A file that is deleted while open has no link left, or waits for its last handle to go.
bool Deleted(HANDLE file) {
  FILE_STANDARD_INFO standard{};
  if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
    return false;
  }
  return standard.DeletePending || standard.NumberOfLinks == 0;
}

}  // namespace

// The name opened afresh (attributes only, sharing everything, so that nobody is refused
// for it) and compared with the open log by volume and file index.
FileAtPath CompareWithPath(int fd, const std::string& path, std::string& reason) {
  BY_HANDLE_FILE_INFORMATION opened;
  if (!IdentityOf(HandleOf(fd), opened, reason)) return FileAtPath::kUnknown;
  const HANDLE named = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (named == INVALID_HANDLE_VALUE) {
    // A name whose file waits to be deleted refuses to be opened (access denied).
    const DWORD error = GetLastError();
    if (Deleted(HandleOf(fd))) return FileAtPath::kGone;
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return FileAtPath::kNotThisOne;
    }
    reason = SystemWords(error);
    return FileAtPath::kUnknown;
  }
  BY_HANDLE_FILE_INFORMATION found;
  const bool known = IdentityOf(named, found, reason);
  CloseHandle(named);
  if (!known) return FileAtPath::kUnknown;
  const bool same = found.dwVolumeSerialNumber == opened.dwVolumeSerialNumber &&
                    found.nFileIndexHigh == opened.nFileIndexHigh &&
                    found.nFileIndexLow == opened.nFileIndexLow;
  return same ? FileAtPath::kSame : FileAtPath::kNotThisOne;
}

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? SystemTextInUtf8(std::string(name, size)) : std::string();
}

std::string SystemTextInUtf8(const std::string& text) {
  const int size = static_cast<int>(text.size());
  if (text.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size,
                                          nullptr, 0) > 0) {
    return text;
  }
  std::wstring wide(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
  const int wideSize = static_cast<int>(wide.size());
  std::string utf8(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize,
                                                           nullptr, 0, nullptr, nullptr)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, utf8.data(), static_cast<int>(utf8.size()),
                      nullptr, nullptr);
  return utf8;
}

bool FileNamesInUtf8() { return false; }

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

bool ProcessRunning(long pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

std::tm UtcCalendar(std::time_t seconds) {
  std::tm utc{};
  gmtime_s(&utc, &seconds);
  return utc;
}

std::tm LocalCalendar(std::time_t seconds) {
  std::tm local{};
  localtime_s(&local, &seconds);
  return local;
}

bool IsTerminal(int fd) { return _isatty(fd) != 0; }

int TerminalColumns(int fd) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(handle, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

// The Microsoft C runtime treats _IOLBF as full buffering; unbuffered output still comes
// whole per message, since the library formats each message before printing it.
void BufferStdoutByLine() { setvbuf(stdout, nullptr, _IONBF, 0); }

std::string PathIn(const std::string& folder, const std::string& file) {
  return folder + '\\' + file;
}

// Windows hosts keep their DLLs beside the program.
std::vector<std::string> InstalledLibraryPaths(const std::string& executableDirectory,
                                               const std::string& file) {
  return {PathIn(executableDirectory, file)};
}

bool MayOpen(const std::string&) { return true; }

std::string AccessRuleInstructions() { return ""; }

void StartCountingInterrupts() {
  interrupts = 0;
  firstInterrupt = nullptr;
  if (jobOver == nullptr) jobOver = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (jobOver != nullptr) ResetEvent(jobOver);
  SetConsoleCtrlHandler(CountInterrupt, TRUE);
}

// The handler stays while a close, logoff or shutdown event is handled: the process ends with
// it, and until then nothing may end the job unrecorded.
void StopCountingInterrupts() {
  if (jobOver != nullptr) SetEvent(jobOver);
  SetConsoleCtrlHandler(CountInterrupt, FALSE);
}

int InterruptCount() { return interrupts; }

std::string InterruptName() {
  const char* name = firstInterrupt.load();
  return name != nullptr ? name : "Ctrl-C";
}

// A console process cannot ask whether its Ctrl-C was switched off by its parent (a process
// group of its own): the run never claims so.
bool InterruptIgnored() { return false; }

}  // namespace qs71prog
