#pragma once
// qs71prog --show-policy: what this station will do and why, for the administrator setting it
// up and the operator asking why a job was refused.

#include "cli/exit_codes.h"
#include "platform/output_streams.h"
#include "policy/policy_lookup.h"

namespace qs71prog {

// The policy found (or why there is none, or why it is refused), the keys it trusts, its trace
// and what it refuses. Exit 11 when the policy, or the keys it names, are refused: the station
// then runs no job.
ExitCode ShowPolicyCommand(const PolicyLookup& lookup, TextSink& console);

}  // namespace qs71prog
