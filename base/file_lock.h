#pragma once
// An exclusive hold of a file between processes, one file per platform: a lock that goes with
// the open descriptor, so that a process that ends, however it ends, lets go of it. On POSIX
// systems flock, which every user who can open the file meets (not a record lock, which
// belongs to the process and goes as soon as any of its descriptors of the file is closed); on Windows LockFileEx on one
// byte far beyond the end of any file, so that the lock never stands in the way of the
// file's own reads and writes through other handles.

#include <string>

enum class FileLock { kTaken, kHeld, kFailed };

// A folder is held as a file is where the system locks folders: not on Windows, where
// LockFileEx takes files only.
#if defined(_WIN32)
inline constexpr bool kFoldersLock = false;
#else
inline constexpr bool kFoldersLock = true;
#endif

// Opens path read-only for a lock, never inherited by a child process; -1 with the system's
// reason in *reason.
int OpenForLock(const std::string& path, std::string* reason);

// Locks the open file without waiting. kHeld: another open file holds it, and *text names its
// process where the system tells ("process 4711 (qs71prog)"), else "another process".
// kFailed: *text is the system's reason.
FileLock LockExclusive(int fd, std::string* text);

// Waits until the open file's lock is free and takes it; a lock around a short piece of work
// that every process doing it takes (a row appended to a log). False with the system's reason.
bool LockWaiting(int fd, std::string* reason);
// Lets go of the lock that LockWaiting took; the descriptor stays open.
void Unlock(int fd);

// Closes the descriptor, and with it the lock.
void CloseLockedFile(int fd);
