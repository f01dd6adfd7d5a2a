#include "policy/policy_rules.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "job_file/key_places.h"
#include "policy/administrator_files.h"
#include "policy/libpq_environment.h"
#include "policy/policy_lookup.h"
#include "policy/show_policy.h"
#include "trace/connection_password.h"

namespace qs71prog {

namespace {

bool ReadsTrust(const Options& options) {
  return !options.jobFile.empty() || !options.showJob.empty();
}

bool UserFolderThere() {
  const std::string folder = UserTrustFolder();
  std::error_code error;
  return !folder.empty() && std::filesystem::exists(folder, error);
}

// Each rule names what a station with a policy refuses; the complaint goes on after "... on
// this station: its policy FILE".
struct PolicyRule {
  bool (*applies)(const Options&);
  const char* what;
  const char* complaint;
};

const PolicyRule kRules[] = {
    {[](const Options& o) { return !o.trust.empty(); }, "--trust cannot be given",
     "names the keys it trusts (trusted-keys)"},
    {[](const Options& o) { return ReadsTrust(o) && VariableSet("QS71_TRUST_DIR"); },
     "QS71_TRUST_DIR cannot be set", "names the keys it trusts (trusted-keys)"},
    {[](const Options& o) { return ReadsTrust(o) && UserFolderThere(); },
     "the user's own key folder is not read",
     "names the keys it trusts (trusted-keys); remove the folder"},
    {[](const Options& o) { return !o.trace.empty(); }, "--trace cannot be given",
     "names the trace"},
    {[](const Options& o) { return o.clearRefused && !RunByAdministrator(); }, "--clear-refused cannot be run",
     "keeps what the line's server refused until an engineer clears it: run it as the "
     "administrator (root; on Windows, from an elevated prompt)"},
    {[](const Options& o) { return !o.library.empty(); }, "--library cannot be given",
     "lets qs71prog load only its own programmer library"},
    {[](const Options& o) { return !o.station.empty() && !o.policy.station.empty(); },
     "--station cannot be given", "names the station"},
    {[](const Options& o) { return o.production && o.emulate && !o.policy.dryRunsRecorded; },
     "--emulate --production cannot be run",
     "records production into its trace, where emulated parts would count in the lot as "
     "parts made (dry-runs = \"recorded\" is for a line of emulated programmers)"},
    {[](const Options& o) { return o.production && o.jobFile.empty(); },
     "--write IMAGE --production cannot be run",
     "runs job files only: --job FILE, made with --make-job"},
    {[](const Options& o) {
       return o.selection.write && !o.production && !o.emulate && o.makeJob.empty() &&
              o.policy.jobs == JobsRule::kSigned;
     },
     "--write cannot be run",
     "writes parts only from jobs signed by a key it trusts "
     "(--job FILE --production); a dry run (--emulate) may"},
};

// The user's folder is named by where it is.
std::string Named(const PolicyRule& rule) {
  std::string what = rule.what;
  const std::string folder = "key folder";
  const size_t at = what.find(folder);
  if (at != std::string::npos) what.insert(at + folder.size(), " " + UserTrustFolder());
  return what;
}

}  // namespace

bool ApplyStationPolicy(Options& options, std::string& warning, std::string& error) {
  if (!options.policy.Present()) {
    if (IsConnectionString(options.trace) && !ConnectionPasswords(options.trace).empty()) {
      warning =
          "the password in --trace can be read by every user of this computer (a "
          "process's command line is everyone's to see): keep it in ~/.pgpass or a "
          "service file instead";
    }
    return true;
  }
  for (const PolicyRule& rule : kRules) {
    if (!rule.applies(options)) continue;
    error =
        Named(rule) + " on this station: its policy " + options.policy.file + " " + rule.complaint;
    return false;
  }
  options.trace = options.policy.trace.empty() ? options.policy.spool : options.policy.trace;
  if (!options.policy.station.empty()) options.station = options.policy.station;
  KeepLibpqToThePolicy(options.policy.file);
  return true;
}

ExitCode TakeStationPolicy(Options& options, TextSink& console) {
  const PolicyLookup lookup = FindStationPolicy();
  if (options.showPolicy) return ShowPolicyCommand(lookup, console);
  if (lookup.found == PolicyFound::kRefused) {
    console.Err("qs71prog: " + lookup.problem + "\nqs71prog: this station runs no job until " +
                "its policy is mended (qs71prog --show-policy)\n");
    return ExitCode::kNotAnImage;
  }
  options.policy = lookup.policy;
  std::string warning;
  std::string error;
  if (!ApplyStationPolicy(options, warning, error)) {
    console.Err("qs71prog: " + error + "\nTry 'qs71prog --show-policy'.\n");
    return ExitCode::kUsage;
  }
  if (!warning.empty()) console.Err("qs71prog: warning: " + warning + "\n");
  return ExitCode::kOk;
}

}  // namespace qs71prog
