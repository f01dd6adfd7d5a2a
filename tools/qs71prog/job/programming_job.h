#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/prog_options.h"
#include "display/display.h"
#include "job/job_report.h"
#include "job/preflight.h"
#include "job/programmer_choice.h"
#include "platform/host_system.h"
#include "platform/output_streams.h"
#include "platform/writer_library.h"

namespace qs71prog {

// The display the options and the console call for: JSON, a bar on a terminal, plain lines.
DisplayKind ChooseDisplay(const Options& options, const Console& console);

// Loads the library the options name (--library, --emulate, or the production build beside
// qs71prog); a dry run must never reach a real part, whatever --library points at.
bool LoadFor(const Options& options, WriterLibrary& library, std::string& error);

// One run: read and judge the image once, load the library, hold the programmer, call
// Qs71UsbJob once per step (job/job_phase.h) with the pre-flight's bytes and the progress
// display running beside each call, report how it ended. Returns the exit status.
ExitCode RunProgrammingJob(const Options& options, Console& console);

// A job that ended before the library was called, reported on the display the options ask
// for, as RunProgrammingJob reports it; image holds the pre-flight's bytes once it passed.
// Returns exit.
ExitCode ReportJobNotRun(const Options& options, Console& console, const std::string& problem,
                         ExitCode exit, const std::vector<uint8_t>& image = {});

// What a production run does once, before its first part: the image's pre-flight (its bytes
// are what every part gets), the library, and the job's description.
Preflight PrepareProduction(const Options& options, WriterLibrary& library, JobDescription& job);

// One part of a production run: the job's steps on the part in link's socket, shown on
// display. A first interruption lets every step of the part run; a second cancels the calls
// under way, and the part is reported as aborted.
//
// A part whose blank check finds it written is compared with the image before its verdict:
// one that holds exactly the image comes back with `already` set and exit 0. beforeWrite runs
// once the part is known to be blank, right before the first write to it: the run records the
// part there, and a part that cannot be recorded is not made (false ends the job before the
// write, with the exit the callback put in the outcome).
struct PartJob {
  const Options& options;
  const WriterLibrary& library;
  const ProgrammerLink& link;
  const JobDescription& job;
  const std::vector<uint8_t>& image;
  Display& display;
  std::function<bool(JobOutcome& outcome)> beforeWrite;
};

JobOutcome RunPartJob(const PartJob& part);

// Whether a second interruption has cancelled the calls.
bool Cancelled();

// Interruptions are counted rather than fatal for as long as a job runs. Created before any
// thread.
class InterruptCounting {
 public:
  InterruptCounting() { StartCountingInterrupts(); }
  ~InterruptCounting() { StopCountingInterrupts(); }
  InterruptCounting(const InterruptCounting&) = delete;
  InterruptCounting& operator=(const InterruptCounting&) = delete;
};

}  // namespace qs71prog
