#include "file_lock.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include "file_system.h"  // LastSystemError

namespace {

// Far beyond the end of any part or device: LockFileEx locks are mandatory, and one on a
// byte the file holds would refuse this process's own writes through its other handles.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

OVERLAPPED LockRegion() {
  OVERLAPPED region{};
  region.OffsetHigh = kLockOffsetHigh;
  return region;
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

}  // namespace

int OpenForLock(const std::string& path, std::string* reason) {
  const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) *reason = path + ": " + LastSystemError();
  return fd;
}

// Windows does not say which process holds a lock.
FileLock LockExclusive(int fd, std::string* text) {
  const HANDLE handle = HandleOf(fd);
  OVERLAPPED region = LockRegion();
  if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &region)) {
    return FileLock::kTaken;
  }
  if (GetLastError() == ERROR_LOCK_VIOLATION || GetLastError() == ERROR_IO_PENDING) {
    *text = "another process";
    return FileLock::kHeld;
  }
  *text = LastSystemError();
  return FileLock::kFailed;
}

bool LockWaiting(int fd, std::string* reason) {
  OVERLAPPED region = LockRegion();
  if (LockFileEx(HandleOf(fd), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &region)) return true;
  *reason = LastSystemError();
  return false;
}

void Unlock(int fd) {
  OVERLAPPED region = LockRegion();
  UnlockFileEx(HandleOf(fd), 0, 1, 0, &region);
}

void CloseLockedFile(int fd) {
  if (fd >= 0) _close(fd);
}
