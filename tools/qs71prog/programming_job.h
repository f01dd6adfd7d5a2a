#pragma once

#include "console.h"
#include "exit_codes.h"
#include "prog_options.h"

namespace qs71prog {

// One run: load the library, call Qs71UsbWriter once with the progress display running
// beside it, report how it ended. Returns the exit status.
ExitCode RunProgrammingJob(const Options& options, Console& console);

}  // namespace qs71prog
