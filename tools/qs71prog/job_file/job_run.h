#pragma once
// A production run of a job file: `qs71prog --job FILE --production ...`. The job is loaded
// once, before anything else is opened, and the run's options are filled from it alone. The
// pre-flight (job/preflight.h) judges the job's image bytes, never the job file.

#include "cli/exit_codes.h"
#include "cli/prog_options.h"
#include "job/preflight.h"
#include "platform/output_streams.h"

namespace qs71prog {

// LoadJob on options.jobFile with the station's trust (LoadStationTrust: its policy's keys, or
// --trust and the trust folders), and
// options filled from the job: the image's bytes, blank check, write and verify, the
// voltages, the programmers expected, the name, the lot, the work order, the image's SHA-256
// as --expect-sha256, the job's hash and signer. Without --production (--job FILE --verify or
// --identify) only the image, its hashes and the voltages: a part is checked, never written.
// kOk, or exit 11 with the refusal shown the way the run's display shows a job that was never
// called.
ExitCode ApplyJobFile(Options& options, Console& console);

}  // namespace qs71prog
