#pragma once

#include <cstddef>
#include <string>

namespace qs71prog {

// The few descriptor, terminal and environment calls that differ between Linux and Windows
// (platform_io_posix.cpp, platform_io_windows.cpp). Descriptors are C runtime descriptors on
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

bool IsTerminal(int fd);
// The terminal's width in columns, 0 when unknown.
int TerminalColumns(int fd);

bool SetEnvironment(const std::string& name, const std::string& value);

// The library writes its messages to stdout without flushing; line buffering (or none where
// the C runtime has no line buffering) lets each line reach the display as it is printed.
// Must run before anything is printed to stdout.
void BufferStdoutByLine();

}  // namespace qs71prog
