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

int DuplicateFd(int fd);  // -1 on failure
void CloseFd(int fd);
bool WriteFd(int fd, const char* data, std::size_t size);

// The production log's file, opened to append and to read its last byte: every write lands
// at its end, whoever else appends to it (Windows: FILE_APPEND_DATA, not the C runtime's
// seek-then-write); the file is created when missing. -1 on failure. Every call of this
// block that fails puts the system's own words for it in reason ("No space left on device").
int OpenForAppend(const std::string& path, std::string& reason);
// The size of an open file, -1 when unknown.
long long FileSize(int fd, std::string& reason);
// The file's last byte, -1 when it cannot be read; size is the file's size, above 0.
int LastByte(int fd, long long size, std::string& reason);
// Appends text in one piece, or, when that fails (a full disk), cuts the file back to before,
// its size when the lock was taken, so that neither a torn line nor anyone else's row is lost.
// False when the text is not all there.
bool AppendWhole(int fd, const std::string& text, long long before, std::string& reason);
// Cuts the file back to size, for a row that was written but never reached the disk.
bool CutBack(int fd, long long size, std::string& reason);
// Waits until what was written to fd is on the disk.
bool SyncFd(int fd, std::string& reason);

// Whether the file at path is still the open file fd: a log deleted, renamed or replaced
// while a run goes on would take every later row into a file nobody will find.
enum class FileAtPath {
  kSame,
  kGone,         // nothing at the name, and the open file has no name left
  kNotThisOne,   // another file at the name, or nothing there while the open file lives on
  kUnknown,      // the name could not be looked up (reason says why)
};
FileAtPath CompareWithPath(int fd, const std::string& path, std::string& reason);

// This computer's name, "" when unknown.
std::string HostName();

// A text the system handed over in its own encoding (an argument of the command line, the
// computer's name) in UTF-8, as the log and the trace keep texts: Windows gives them in the
// ANSI code page, so a text that is not UTF-8 there is converted from it; Linux gives them as
// they were typed, and they stand.
std::string SystemTextInUtf8(const std::string& text);
// Whether the system's file calls take names in UTF-8 (Linux), or in the code page that the
// command line gives them in (Windows), where a name must stay as it was given.
bool FileNamesInUtf8();
// This process's ID.
long ProcessId();
// Whether a process with this ID runs on this computer now (one of another user counts).
bool ProcessRunning(long pid);
// The calendar time of a moment in UTC.
std::tm UtcCalendar(std::time_t seconds);
// The same in this computer's time zone, as the clock on the bench's wall shows it.
std::tm LocalCalendar(std::time_t seconds);

bool IsTerminal(int fd);
// The terminal's width in columns, 0 when unknown.
int TerminalColumns(int fd);

// The library writes its messages to stdout without flushing; line buffering (or none where
// the C runtime has no line buffering) lets each line reach the display as it is printed.
// Must run before anything is printed to stdout.
void BufferStdoutByLine();

// folder, this system's path separator, file.
std::string PathIn(const std::string& folder, const std::string& file);

// Where an installed qs71prog finds a library file: beside the program, and on Linux also in
// ../lib, where an installed tree keeps it.
std::vector<std::string> InstalledLibraryPaths(const std::string& executableDirectory,
                                               const std::string& file);

// A QS71 programmer as the library lists it, and whether this user may open it.
struct ProgrammerNode {
  std::string path;         // /dev/hidrawN on Linux
  bool accessible = false;  // this user may open it for reading and writing
};

// Whether this user may open the device at path for reading and writing (Windows: any user
// may open a HID device).
bool MayOpen(const std::string& path);

// How to give this user access to the programmer, as lines to type; empty where every user
// may open it (Windows).
std::string AccessRuleInstructions();

// Ctrl-C during a job. From StartCountingInterrupts to StopCountingInterrupts, Ctrl-C (and on
// Linux SIGTERM, SIGHUP and SIGQUIT; on Windows Ctrl-Break and the console's close, logoff and
// shutdown events) no longer ends the process; each one is counted, and the job decides
// between and during the library's calls what the count means. No signal may land in the
// thread that runs the library: a HID read that a signal interrupts fails, and the library
// would take that for a programmer that stopped answering in the middle of a write. Linux
// therefore blocks the signals in every thread and takes them in a thread of its own; on
// Windows the console's handler runs in a thread of its own anyway, and for the close, logoff
// and shutdown events, after which Windows ends the process within a few seconds, it waits
// for the job to stop and, near the end of that time, counts a second interruption so that
// the part under way is stopped cleanly and recorded. Start before any other thread is
// started, since threads inherit the blocked signals only from their creator.
void StartCountingInterrupts();
void StopCountingInterrupts();
int InterruptCount();
// What the first interruption was, for the messages: "Ctrl-C", "SIGTERM", "SIGHUP", ...
std::string InterruptName();
// Whether this process was started with Ctrl-C ignored; ask before StartCountingInterrupts.
bool InterruptIgnored();

}  // namespace qs71prog
