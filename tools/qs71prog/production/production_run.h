#pragma once

#include "cli/exit_codes.h"
#include "cli/prog_options.h"
#include "platform/output_streams.h"

namespace qs71prog {

// --production: one part after another on one programmer, or on every attached programmer at
// once with --all, a thread each. Each loop waits for a part (identifying about twice a
// second), runs the job on it (job/programming_job.h), shows and logs the verdict, waits
// until the part is taken out, and starts again; --count N ends it after N parts,
// --stop-on-fail at the first failed part, Ctrl-C after the part under way.
//
// The exit status: 0 when every part passed; the failed job's status (the first failed
// part's) when a part failed, with or without --stop-on-fail; 12 when Ctrl-C (or SIGTERM,
// SIGHUP, SIGQUIT) ended a run in which no part failed; 13 when a second one cut parts short;
// a lost programmer's status (3, 1, ...) or a log that could not be written (9) above all of
// these, since it needs a person at the bench. With --all, the same over every loop.
ExitCode RunProduction(const Options& options, Console& console);

// --list: the attached programmers on standard output.
ExitCode ListProgrammersCommand(const Options& options, Console& console);

}  // namespace qs71prog
