#pragma once
// What a station's policy does to a command line: the options and variables it does not
// allow, and what it decides in their place (the trace, the station's name). Without a policy
// the command line stands as it is.

#include <string>

#include "cli/exit_codes.h"
#include "cli/prog_options.h"
#include "platform/output_streams.h"

namespace qs71prog {

// With options.policy present: false with error naming the option or variable and the policy
// for --trust, QS71_TRUST_DIR and the user's own key folder (where the command reads trust),
// --trace, --station where the policy names the station, --write IMAGE --production, and a
// --write on a real programmer where only signed jobs run; otherwise options.trace and
// options.station are the policy's. Without one: true, with warning set when --trace holds a
// password that every user of the computer can read.
bool ApplyStationPolicy(Options& options, std::string& warning, std::string& error);

// Finds the station's policy (policy_lookup.h) into options.policy and applies it: with
// --show-policy, that command's exit; a policy that cannot be taken, exit 11 with the reason
// (the station runs nothing until it is mended); an option it refuses, exit 2; else kOk, with
// a warning on standard error when there is one.
ExitCode TakeStationPolicy(Options& options, TextSink& console);

}  // namespace qs71prog
