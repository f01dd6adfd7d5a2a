#pragma once

#include <string>

#include "cli/exit_codes.h"
#include "cli/prog_options.h"
#include "display/display.h"
#include "job/job_report.h"
#include "job/preflight.h"
#include "job/programmer_link.h"
#include "platform/host_system.h"
#include "platform/output_streams.h"
#include "platform/writer_library.h"

namespace qs71prog {

// The display the options and the console call for: JSON, a bar on a terminal, plain lines.
DisplayKind ChooseDisplay(const Options& options, const Console& console);

// Loads the library the options name (--library, --emulate, or the production build beside
// qs71prog); a dry run must never reach a real part, whatever --library points at.
bool LoadFor(const Options& options, WriterLibrary& library, std::string& error);

// One run: load the library, call Qs71UsbWriter once per step (job/job_steps.h) with the
// progress display running beside each call, report how it ended. Returns the exit status.
ExitCode RunProgrammingJob(const Options& options, Console& console);

// A job that ended before the library was called, reported on the display the options ask
// for, as RunProgrammingJob reports it. Returns exit.
ExitCode ReportJobNotRun(const Options& options, Console& console, const std::string& problem,
                         ExitCode exit);

// What a production run does once, before its first part: the image's pre-flight, the
// library, which must be able to name programmers, and the job's description.
Preflight PrepareProduction(const Options& options, WriterLibrary& library, JobDescription& job);

// One part of a production run: the job's steps on the part in link's socket, shown on
// display. A first Ctrl-C lets every step of the part run; a second ends the process.
struct PartJob {
  const Options& options;
  const WriterLibrary& library;
  const ProgrammerLink& link;
  const JobDescription& job;
  Display& display;
};

JobOutcome RunPartJob(const PartJob& part);

// Ctrl-C is counted rather than fatal for as long as a job runs. Created before any thread.
class InterruptCounting {
 public:
  InterruptCounting() { StartCountingInterrupts(); }
  ~InterruptCounting() { StopCountingInterrupts(); }
  InterruptCounting(const InterruptCounting&) = delete;
  InterruptCounting& operator=(const InterruptCounting&) = delete;
};

}  // namespace qs71prog
