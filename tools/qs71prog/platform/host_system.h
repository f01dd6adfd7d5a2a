#pragma once

#include <chrono>
#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace qs71prog {

// The few calls into the operating system that differ between Linux and Windows
// (host_system_linux.cpp, host_system_windows.cpp). Descriptors are C runtime descriptors on
// both: the library prints through the C runtime's stdout, which writes to descriptor 1.

constexpr int kStdoutFd = 1;
constexpr int kStderrFd = 2;

bool MakePipe(int fds[2]);
int DuplicateFd(int fd);  // -1 on failure
bool ReplaceFd(int source, int target);
void CloseFd(int fd);
// Bytes read, 0 at the end of the stream, negative on an error.
long ReadFd(int fd, char* buffer, std::size_t size);
// What a pipe holds that a read would return at once; 0 when empty, negative on an error.
long BytesWaiting(int fd);
bool WriteFd(int fd, const char* data, std::size_t size);

// A file opened to append: every write lands at its end, whoever else appends to it; the
// file is created when missing. -1 on failure.
int OpenForAppend(const std::string& path);
// The size of an open file, -1 when unknown.
long long FileSize(int fd);
// Waits until what was written to fd is on the disk.
bool SyncFd(int fd);

// This computer's name, "" when unknown.
std::string HostName();
// The calendar time of a moment in UTC.
std::tm UtcCalendar(std::time_t seconds);

bool IsTerminal(int fd);
// The terminal's width in columns, 0 when unknown.
int TerminalColumns(int fd);

bool SetEnvironment(const std::string& name, const std::string& value);

// The library writes its messages to stdout without flushing; line buffering (or none where
// the C runtime has no line buffering) lets each line reach the display as it is printed.
// Must run before anything is printed to stdout.
void BufferStdoutByLine();

// The folder of the running qs71prog, without a trailing separator; empty when unknown.
std::string ExecutableDirectory();

// folder, this system's path separator, file.
std::string PathIn(const std::string& folder, const std::string& file);

// Where an installed qs71prog finds a library file: beside the program, and on Linux also in
// ../lib, where an installed tree keeps it.
std::vector<std::string> InstalledLibraryPaths(const std::string& executableDirectory,
                                               const std::string& file);

// A QS71 programmer (04D8:FE08, release 0x0101) as the system lists it.
struct ProgrammerNode {
  std::string path;         // /dev/hidrawN on Linux
  bool accessible = false;  // this user may open it for reading and writing
};

// The programmers attached now. Linux asks hidapi; on Windows any user may open a HID
// device, so there is nothing to look for there.
std::vector<ProgrammerNode> FindProgrammers();

// How to give this user access to the programmer, as lines to type; empty where every user
// may open it (Windows).
std::string AccessRuleInstructions();

// Ctrl-C during a job. From StartCountingInterrupts to StopCountingInterrupts, Ctrl-C (and
// SIGTERM on Linux) no longer ends the process; each one is counted, and the job decides
// between and during the library's calls what the count means. No signal may land in the
// thread that runs the library: a HID read that a signal interrupts fails, and the library
// would take that for a programmer that stopped answering in the middle of a write. Linux
// therefore blocks the signals in every thread and takes them in a thread of its own; on
// Windows the console's handler runs in a thread of its own anyway. Start before any other
// thread is started, since threads inherit the blocked signals only from their creator.
void StartCountingInterrupts();
void StopCountingInterrupts();
int InterruptCount();

}  // namespace qs71prog
