#pragma once

#include "cli/exit_codes.h"
#include "cli/prog_options.h"
#include "platform/output_streams.h"

namespace qs71prog {

// One run: load the library, call Qs71UsbWriter once per step (job/job_steps.h) with the
// progress display running beside each call, report how it ended. Returns the exit status.
ExitCode RunProgrammingJob(const Options& options, Console& console);

}  // namespace qs71prog
