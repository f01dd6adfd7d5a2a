#pragma once
// Which policy this station has: the system's file, where it exists; otherwise the file that
// QS71_STATION_POLICY names (tests and dry runs); otherwise none. Either file must be one that
// only an administrator can change (administrator_files.h), and is read whole before any
// command runs.

#include <string>

#include "policy/station_policy.h"

namespace qs71prog {

enum class PolicyFound {
  kNone,     // no policy: the command line and the user's folders decide
  kLoaded,   // policy holds it
  kRefused,  // a policy is there and cannot be taken (problem says why): the station runs nothing
};

struct PolicyLookup {
  PolicyFound found = PolicyFound::kNone;
  StationPolicy policy;
  std::string problem;
  std::string source;  // "the system's", or "QS71_STATION_POLICY's"; empty without a policy
};

PolicyLookup FindStationPolicy();

}  // namespace qs71prog
