// The station policy's reader on arbitrary bytes: TOML or not, any key and value. A refusal
// names the file and, but for a key that is missing, its line; a policy it takes holds only
// what a station may run on: absolute one-line paths, a reserve in range, keys to trust, a
// trace without a password.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "policy/policy_file.h"
#include "trace/connection_password.h"
#include "utf8_text.h"

namespace {

bool Plain(const std::string& text, bool path) {
  return PlainTextFault(text).empty() &&
         (!path || text.empty() || std::filesystem::path(text).is_absolute());
}

bool Sound(const qs71prog::StationPolicy& policy) {
  bool keys = policy.keyFolder.empty() != policy.keyFiles.empty() && Plain(policy.keyFolder, true);
  for (const std::string& file : policy.keyFiles) keys = keys && !file.empty() && Plain(file, true);
  const bool server = qs71prog::IsConnectionString(policy.trace);
  return keys && Plain(policy.station, false) && Plain(policy.trace, !server) &&
         Plain(policy.spool, true) && Plain(policy.rootCertificate, true) &&
         (!server || qs71prog::ConnectionPasswords(policy.trace).empty()) &&
         policy.reserveMinutes >= qs71prog::kLeastReserveMinutes &&
         policy.reserveMinutes <= qs71prog::kMostReserveMinutes && policy.file == "station.toml";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  qs71prog::StationPolicy policy;
  std::string problem;
  if (qs71prog::ParsePolicyText("station.toml", text, policy, problem)) {
    if (!Sound(policy)) std::abort();
  } else if (!problem.starts_with("station.toml:") || policy.Present()) {
    std::abort();
  }
  return 0;
}
