#pragma once
// One host per programmer. Two qs71prog processes on one programmer would interleave their
// requests and leave a part holding a mix of two images, so a job or a production run holds
// its programmer exclusively from before its first call to its end, and a second process is
// refused at once, told which process holds it. A real programmer is held through a lock
// file in the system's lock folder named after its serial number (or its path when it has
// none); the emulated programmer's chip file is held itself. The holds go with the process,
// however it ends.

#include <memory>
#include <string>
#include <vector>

namespace qs71prog {

class ProgrammerLock {
 public:
  ProgrammerLock() = default;
  ~ProgrammerLock();
  ProgrammerLock(const ProgrammerLock&) = delete;
  ProgrammerLock& operator=(const ProgrammerLock&) = delete;

  // A real programmer, by its serial number or else its path. False when another process
  // holds it; problem names that process. Where there is no lock folder, nothing is held.
  bool HoldProgrammer(const std::string& serial, const std::string& path, std::string& problem);
  // The emulated programmer's chip file, when it exists: one that does not is made by the
  // first call, and is held from the next call on (HoldChipFile again). False when another
  // process holds it.
  bool HoldChipFile(const std::string& file, std::string& problem);

 private:
  bool Hold(const std::string& lockPath, bool create, const std::string& what,
            std::string& problem);

  std::vector<int> holds;
  std::vector<std::string> held;  // the paths held, so that a second try is a no-op
};

// "qs71prog-QS71-0042.lock": a lock file's name from a serial number or path, with every
// character that a file name cannot safely hold replaced.
std::string LockFileName(const std::string& key);

}  // namespace qs71prog
