#include "job/programmer_lock.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/host_system.h"

namespace qs71prog {

namespace {

bool SafeInName(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.';
}

}  // namespace

std::string LockFileName(const std::string& key) {
  std::string name = "qs71prog-";
  for (char c : key) name += SafeInName(c) ? c : '_';
  return name + ".lock";
}

ProgrammerLock::~ProgrammerLock() {
  for (int hold : holds) ReleaseHold(hold);
}

bool ProgrammerLock::Hold(const std::string& lockPath, bool create, const std::string& what,
                          std::string& problem) {
  if (std::find(held.begin(), held.end(), lockPath) != held.end()) return true;
  long holder = 0;
  const int hold = TakeHold(lockPath, create, holder);
  if (hold >= 0) {
    holds.push_back(hold);
    held.push_back(lockPath);
    return true;
  }
  if (hold == -1) {
    problem = what + " is in use by another qs71prog (process " +
              (holder > 0 ? std::to_string(holder) : std::string("unknown")) + ")";
    return false;
  }
  // A folder this user may not write to, a file on a system without locks: the job goes on
  // unguarded rather than not at all.
  return true;
}

bool ProgrammerLock::HoldProgrammer(const std::string& serial, const std::string& path,
                                    std::string& problem) {
  const std::string folder = LockFolder();
  if (folder.empty()) return true;
  const std::string key = serial.empty() ? path : serial;
  return Hold(PathIn(folder, LockFileName(key)), true, "the programmer " + key, problem);
}

bool ProgrammerLock::HoldChipFile(const std::string& file, std::string& problem) {
  std::error_code error;
  if (file.empty() || !std::filesystem::is_regular_file(file, error)) return true;
  return Hold(file, false, "the chip file " + file, problem);
}

}  // namespace qs71prog
