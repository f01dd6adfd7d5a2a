#pragma once
// One host per programmer. Two processes on one programmer would interleave their requests
// and leave a part holding a mix of two images. The library refuses a call on a programmer
// that another process holds, whoever that process belongs to; a job makes several calls
// (identify, blank check, write, verify, the search for failing blocks) and a production run
// makes many, so qs71prog takes the library's hold across them, from before its first call
// to its end. The hold is of the device (its node and serial), never of a path: a device that
// went is let go once, when it is found gone, and the one that comes back, or another at its
// path, is held afresh like any new one.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "job/programmer_choice.h"
#include "platform/writer_library.h"

namespace qs71prog {

class ProgrammerHold {
 public:
  explicit ProgrammerHold(const WriterLibrary& library) : library(library) {}
  ~ProgrammerHold();
  ProgrammerHold(const ProgrammerHold&) = delete;
  ProgrammerHold& operator=(const ProgrammerHold&) = delete;

  // Holds the programmer until Let or the end. Returns the library's code: 0 (also for a
  // device held already), QS71_E_BUSY (problem names what and its holder), QS71_E_HOLD
  // (problem gives the system's reason), QS71_E_REPLACED (another device is at its path) or
  // QS71_E_TRANSPORT (not attached). From any thread.
  int32_t Take(const ProgrammerIdentity& programmer, const std::string& what,
               std::string& problem);
  void Let(const ProgrammerIdentity& programmer);
  bool Holds(const ProgrammerIdentity& programmer);

 private:
  const WriterLibrary& library;
  std::mutex mutex;
  std::vector<ProgrammerIdentity> held;
};

}  // namespace qs71prog
