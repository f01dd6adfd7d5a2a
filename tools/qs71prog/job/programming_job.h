#pragma once

#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/prog_options.h"
#include "platform/host_system.h"
#include "platform/output_streams.h"

namespace qs71prog {

// One run: load the library, call Qs71UsbWriter once with the progress display running
// beside it, report how it ended. Returns the exit status.
ExitCode RunProgrammingJob(const Options& options, Console& console);

// When the library found no usable programmer but one is attached that this user may not
// open: what to do about it. Empty otherwise.
std::string AccessHint(const std::vector<ProgrammerNode>& programmers);

}  // namespace qs71prog
