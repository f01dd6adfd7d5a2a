#pragma once

#include <string>

namespace qs71prog {

// The programmer a job runs on. Unnamed: the first one found, through Qs71UsbWriter and
// Qs71UsbVerifyRange, with their text taken from the process's standard output, exactly as
// before a host could name one. Named: the programmer at `path`, through Qs71UsbWriterOn and
// Qs71UsbVerifyRangeOn, whose text comes to the job's own function, so that jobs on several
// programmers can run at once.
struct ProgrammerLink {
  bool named = false;
  std::string path;
};

}  // namespace qs71prog
