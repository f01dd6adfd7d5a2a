#include "file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "text_format.h"

namespace {

// /proc/locks writes a lock's file as major:minor:inode, the numbers of the device in hex.
std::string LockedFileKey(const struct stat& file) {
  return Format("%02x:%02x:%lu", major(file.st_dev), minor(file.st_dev),
                static_cast<unsigned long>(file.st_ino));
}

// "1: FLOCK  ADVISORY  WRITE 4711 08:01:1234 0 EOF"; lines of waiters carry "->" first.
long FlockHolder(const std::string& key) {
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, file;
    long pid = 0;
    if (!(fields >> number >> kind >> mode >> access >> pid >> file)) continue;
    if (kind == "FLOCK" && file == key && pid > 0) return pid;
  }
  return 0;
}

std::string ProcessName(long pid) {
  std::ifstream comm(Format("/proc/%ld/comm", pid));
  std::string name;
  std::getline(comm, name);
  return name;
}

std::string HolderOf(int fd) {
  struct stat file {};
  const long pid = fstat(fd, &file) == 0 ? FlockHolder(LockedFileKey(file)) : 0;
  if (pid == 0) return "another process";
  const std::string name = ProcessName(pid);
  return name.empty() ? Format("process %ld", pid) : Format("process %ld (%s)", pid, name.c_str());
}

}  // namespace

int OpenForLock(const std::string& path, std::string* reason) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) *reason = path + ": " + std::strerror(errno);
  return fd;
}

FileLock LockExclusive(int fd, std::string* text) {
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return FileLock::kTaken;
  if (errno == EWOULDBLOCK) {
    *text = HolderOf(fd);
    return FileLock::kHeld;
  }
  *text = std::strerror(errno);
  return FileLock::kFailed;
}

bool LockWaiting(int fd, std::string* reason) {
  while (flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    *reason = std::strerror(errno);
    return false;
  }
  return true;
}

void Unlock(int fd) { flock(fd, LOCK_UN); }

void CloseLockedFile(int fd) {
  if (fd >= 0) close(fd);
}
