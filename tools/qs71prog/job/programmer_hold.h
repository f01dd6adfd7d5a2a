#pragma once
// One host per programmer. Two processes on one programmer would interleave their requests
// and leave a part holding a mix of two images. The library refuses a call on a programmer
// that another process holds, whoever that process belongs to; a job makes several calls
// (identify, blank check, write, verify, the search for failing blocks) and a production run
// makes many, so qs71prog takes the library's hold across them, from before its first call
// to its end, and lets go when the programmer leaves (unplugged: it may come back elsewhere).

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/writer_library.h"

namespace qs71prog {

class ProgrammerHold {
 public:
  explicit ProgrammerHold(const WriterLibrary& library) : library(library) {}
  ~ProgrammerHold();
  ProgrammerHold(const ProgrammerHold&) = delete;
  ProgrammerHold& operator=(const ProgrammerHold&) = delete;

  // Holds the programmer at path ("" for the first one found) until Let or the end. Returns
  // the library's code: 0, QS71_E_BUSY (problem names what and its holder), QS71_E_HOLD
  // (problem gives the system's reason) or QS71_E_TRANSPORT (not attached). From any thread.
  int32_t Take(const std::string& path, const std::string& what, std::string& problem);
  void Let(const std::string& path);

 private:
  const WriterLibrary& library;
  std::mutex mutex;
  std::vector<std::string> held;
};

}  // namespace qs71prog
