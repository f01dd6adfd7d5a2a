#include "hold_record.h"

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cstdlib>

#include "file_lock.h"
#include "text_format.h"  // Format

namespace qs71::emu {

namespace {

// The holder is named as /proc/locks counts processes: in the PID namespace of /proc, which a
// process in a namespace of its own (a container, unshare --pid) is not counted in by getpid().
// /proc/self is this process in /proc's numbers.
long ThisProcess() {
#if defined(_WIN32)
  return static_cast<long>(_getpid());
#else
  char link[32];
  const ssize_t size = readlink("/proc/self", link, sizeof link - 1);
  if (size > 0) {
    link[size] = '\0';
    char* end = nullptr;
    const long pid = std::strtol(link, &end, 10);
    if (*end == '\0' && pid > 0) return pid;
  }
  return static_cast<long>(getpid());
#endif
}

// "process 4711 (qs71prog)" or "process 4711": is it this one?
bool NamesThisProcess(const std::string& holder) {
  const std::string self = Format("process %ld", ThisProcess());
  return holder == "another process" ||
         (holder.rfind(self, 0) == 0 && (holder.size() == self.size() || holder[self.size()] == ' '));
}

}  // namespace

// A second open file of this process meets the lock of the first, as another process would,
// so the probe is refused whenever anyone holds the file; the system then names the holder.
bool HeldHere(const std::string& path, std::string& holder) {
  std::string reason;
  const int fd = OpenForLock(path, &reason);
  if (fd < 0) return true;  // gone: nothing of it to write
  std::string text;
  const FileLock lock = LockExclusive(fd, &text);
  CloseLockedFile(fd);
  if (lock == FileLock::kFailed) return true;
  holder = lock == FileLock::kTaken ? "no one" : text;
  return lock == FileLock::kHeld && NamesThisProcess(text);
}

std::vector<std::string> UnheldFiles(const std::vector<std::string>& files) {
  std::vector<std::string> unheld;
  for (const std::string& file : files) {
    std::string holder;
    if (!file.empty() && !HeldHere(file, holder)) unheld.push_back(file + " (held by " + holder + ")");
  }
  return unheld;
}

bool RecordUnheldCall(const std::string& record, int programmer, const std::string& path,
                      const std::vector<std::string>& unheld) {
  std::string files;
  for (const std::string& file : unheld) files += (files.empty() ? "" : ", ") + file;
  const std::string line =
      Format("process %ld: programmer %d (%s): a request reached the part while %s was not "
             "held by this process\n",
             ThisProcess(), programmer, path.c_str(), files.c_str());
#if defined(_WIN32)
  const int fd = _open(record.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, 0644);
  const bool written = fd >= 0 && _write(fd, line.data(), static_cast<unsigned>(line.size())) ==
                                      static_cast<int>(line.size());
  if (fd >= 0) _close(fd);
#else
  const int fd = open(record.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  const bool written =
      fd >= 0 && write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  if (fd >= 0) close(fd);
#endif
  return written;
}

}  // namespace qs71::emu
