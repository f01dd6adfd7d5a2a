#include "policy/policy_lookup.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "policy/administrator_files.h"
#include "policy/policy_file.h"

namespace qs71prog {

namespace {

// Whether anything stands at the name: a link that leads nowhere is a policy that cannot be
// read, not a station without one, and a name that cannot be looked up is not known to be
// free either.
bool Exists(const std::string& path, std::string& problem) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
  if (error && status.type() != std::filesystem::file_type::not_found) {
    problem = "cannot tell whether the station policy " + path + " exists: " + error.message();
    return true;
  }
  return std::filesystem::exists(status);
}

PolicyLookup Refused(const std::string& source, const std::string& problem) {
  PolicyLookup lookup;
  lookup.found = PolicyFound::kRefused;
  lookup.source = source;
  lookup.problem = problem;
  return lookup;
}

PolicyLookup Load(const std::string& path, const std::string& source) {
  PolicyLookup lookup;
  std::string problem;
  if (!OnlyAdministratorsMayChange(path, "the station policy", problem) ||
      !ReadPolicyFile(path, lookup.policy, problem)) {
    return Refused(source, problem);
  }
  // The CA decides which server the station's record goes to: it is trust, as a key is.
  const std::string& certificate = lookup.policy.rootCertificate;
  if (!certificate.empty() &&
      !OnlyAdministratorsMayChange(certificate, "the root certificate", problem)) {
    return Refused(source, problem + " (root-certificate of the station policy " + path + ")");
  }
  lookup.found = PolicyFound::kLoaded;
  lookup.source = source;
  return lookup;
}

}  // namespace

PolicyLookup FindStationPolicy() {
  const std::string system = SystemPolicyFile();
  const char* variable = std::getenv("QS71_STATION_POLICY");
  const std::string named = variable == nullptr ? "" : variable;
  std::string problem;
  if (!system.empty() && Exists(system, problem)) {
    if (!problem.empty()) return Refused("the system's", problem);
    if (!named.empty()) {
      return Refused("the system's",
                     "QS71_STATION_POLICY cannot be set on this station: its policy is " + system +
                         ", and no other");
    }
    return Load(system, "the system's");
  }
  if (named.empty()) return {};
  return Load(named, "QS71_STATION_POLICY's");
}

}  // namespace qs71prog
