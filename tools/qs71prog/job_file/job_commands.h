#pragma once
// The job file's commands: --make-key KEY, --make-job JOB, --show-job JOB.

#include "cli/exit_codes.h"
#include "cli/prog_options.h"
#include "platform/output_streams.h"

namespace qs71prog {

// Writes KEY and KEY.pub. An existing KEY or KEY.pub, or one that cannot be written: exit 9.
ExitCode MakeKeyCommand(const Options& options, TextSink& console);

// The image of --write through the same pre-flight as a write (refused with its exit code),
// then the job with what options fix, signed with --sign KEY (a key that is no secret key:
// exit 11), written beside its name and renamed into place (exit 9 when it cannot be).
ExitCode MakeJobCommand(const Options& options, TextSink& console);

// Every setting, the hashes, the signer and this station's verdict; as one JSON document with
// --json. Exit 11 for a job the station would refuse, with the reason on standard error.
ExitCode ShowJobCommand(const Options& options, TextSink& console);

}  // namespace qs71prog
