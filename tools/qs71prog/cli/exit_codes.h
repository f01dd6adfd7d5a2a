#pragma once

#include <cstdint>
#include <vector>

#include "job/job_phase.h"

namespace qs71prog {

// qs71prog's exit status. A bench script or a line controller branches on it, so each
// distinct thing the operator must do differently gets its own value, and nothing that
// failed ever ends with 0.
enum class ExitCode : int {
  kOk = 0,
  kProgrammerError = 1,  // the programmer answered wrongly or went away during a step
  kUsage = 2,
  kNoProgrammer = 3,
  kChip = 4,  // wrong chip ID, unknown size code, damaged system area
  kImageSize = 5,
  kNotBlank = 6,
  kWriteFailed = 7,
  kVerifyMismatch = 8,
  kFileError = 9,
  kLibraryMissing = 10,
  kNotAnImage = 11,  // refused before the programmer is touched; --force takes it unless a
                     // write would clear a factory cell. Also a job file that is damaged or
                     // not trusted here, and a key file that is not the key asked for
  // Ctrl-C or SIGTERM, SIGHUP, SIGQUIT: a write cut short scraps the part, so the first one
  // lets the step under way finish and the job stops there; a second one cancels the call
  // between two chunks.
  kInterrupted = 12,
  kAborted = 13,
  // Another process holds the programmer (the library's hold, which every host and user
  // meets): refused at once, before any traffic.
  kBusy = 14,
  // Every part of the job's lot is made (or under way at another station of the trace): the
  // run stops, and a new run of the job is refused.
  kLotComplete = 15,
};

struct ExitCodeInfo {
  ExitCode code;
  const char* name;     // "write-failed": the status field of the JSON result event
  const char* meaning;  // one line for --help and the production guide
};

const std::vector<ExitCodeInfo>& ExitCodeTable();
const ExitCodeInfo& DescribeExit(ExitCode code);

// The exit status for a result code of the job call and the step it came from.
ExitCode ExitCodeFor(int32_t result, Phase phase);

}  // namespace qs71prog
