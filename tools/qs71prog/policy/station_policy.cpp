#include "policy/station_policy.h"

namespace qs71prog {

std::string PolicyWords(const StationPolicy& policy) {
  if (!policy.Present()) return "no station policy: any job runs";
  return "station policy " + policy.file + ": " +
         (policy.jobs == JobsRule::kSigned ? "only jobs signed by a trusted key run"
                                           : "job files run, signed or not");
}

}  // namespace qs71prog
