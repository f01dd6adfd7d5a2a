#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "job/job_phase.h"

namespace qs71prog {

// What a run is about to do, for the displays.
struct JobDescription {
  Selection selection;
  std::string image;
  std::string sha256;  // the image's, lower-case hex; empty without an image
  std::string library;
  bool emulated = false;
  std::array<double, 4> volts{};  // indexed by Voltage
};

// How it ended.
struct JobOutcome {
  bool called = false;  // false when no call of the library returned
  // The job call's result, when called; for an image that qs71prog found not to fit the
  // identified chip, the code the library gives the same fault.
  int32_t result = 0;
  Phase phase = Phase::kConnect;  // the step that failed, or the last one run
  // The job's step whose call gave the result: a verify whose call could not even connect
  // failed in the connection (phase), but after a write that had ended well (step).
  Phase step = Phase::kConnect;
  ExitCode exit = ExitCode::kOk;
  int32_t otpSize = 0;
  double seconds = 0.0;
  // Why qs71prog ended the job itself: before the library was called, or between two calls
  // (a chip file that another run took first). The closing line gives it, not a result.
  std::string problem;
  std::string chipId;   // "6D 61 02 00" once the chip identified, empty before
  // What interrupted or aborted the job when it was not Ctrl-C: "SIGTERM", "SIGHUP", ...
  std::string signal;
  // Where a failed blank check or verify found the part different (job/block_search.h):
  // the first failing 256-byte blocks, "0x002300-0x0023FF", and whether all were searched.
  bool located = false;
  std::vector<std::string> failingBlocks;
  bool allBlocksSearched = true;
  // How long each step's call took, by stage value (0: identification), and which ran.
  std::array<double, kLastStage + 1> stepSeconds{};
  std::array<bool, kLastStage + 1> stepsRun{};
  // A production part that was not blank but held exactly this image already (put in a
  // second time): its verify matched, and it is neither made again nor scrap.
  bool already = false;
  // A production part whose started row the log and the trace hold: its number is taken for
  // good, whatever became of the part.
  bool startRecorded = false;
};

// "blank-check", "write", "verify" as selected, in the order the library runs them.
std::vector<std::string> OperationNames(const Selection& selection);

// The closing line for a person: what was done, or what failed, where, and the exit code,
// and the image's SHA-256 when there is an image.
std::string SummaryLine(const JobDescription& job, const JobOutcome& outcome);

}  // namespace qs71prog
