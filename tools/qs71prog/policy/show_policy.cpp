#include "policy/show_policy.h"

#include "job_file/key_places.h"
#include "job_file/trust.h"
#include "policy/administrator_files.h"
#include "trace/connection_password.h"

namespace qs71prog {

namespace {

std::string KeyLines(const Trust& trust) {
  std::string lines;
  for (const PublicKey& key : trust.keys) {
    lines += "  key " + key.fingerprint + " (" + key.path + ")" +
             (key.comment.empty() ? "" : ": " + key.comment) + "\n";
  }
  return lines;
}

std::string Or(const std::string& value, const std::string& otherwise) {
  return value.empty() ? otherwise : value;
}

std::string Folders(const std::vector<std::string>& folders) {
  std::string text;
  for (const std::string& folder : folders) text += (text.empty() ? "" : ", ") + folder;
  return text;
}

ExitCode WithoutPolicy(TextSink& console) {
  std::string text = PolicyWords(StationPolicy()) + "\n";
  text += "why: no " + Or(SystemPolicyFile(), "system policy") +
          ", and QS71_STATION_POLICY is not set: the command line and this user's folders "
          "decide\n";
  text += "trusted keys: --trust FILE, and every *.pub in " + Folders(TrustFolders()) + "\n";
  Trust trust;
  std::string problem;
  if (!LoadTrust({}, TrustFolders(), trust, problem)) {
    console.Out(text + "  refused: " + problem + "\n");
    return ExitCode::kNotAnImage;
  }
  text += trust.Any() ? KeyLines(trust) + "  production runs only jobs signed by one of them\n"
                      : "  none found: a job runs whether it is signed or not\n";
  text += "trace: --trace, else " + Or(DefaultTraceFile(), "(no folder for one)") + "\n";
  console.Out(text);
  return ExitCode::kOk;
}

std::string TrustPlaceLine(const StationPolicy& policy) {
  if (!policy.keyFolder.empty()) return "trusted keys: every *.pub in " + policy.keyFolder + "\n";
  return "trusted keys: " + Folders(policy.keyFiles) + "\n";
}

std::string HeadLines(const PolicyLookup& lookup) {
  const StationPolicy& policy = lookup.policy;
  const bool signedOnly = policy.jobs == JobsRule::kSigned;
  std::string text = PolicyWords(policy) + "\n";
  text += "why: " + lookup.source + " policy file, which only an administrator can change\n";
  text += "station: " + Or(policy.station, "this computer's name") + "\n";
  text += std::string("jobs: ") +
          (signedOnly ? "\"signed\": production runs only job files signed by a trusted key, "
                        "and no --write but a dry run (--emulate)\n"
                      : "\"any\": production runs job files, signed or not; a signature by a "
                        "trusted key must hold\n");
  return text;
}

std::string RecordLines(const StationPolicy& policy) {
  const bool signedOnly = policy.jobs == JobsRule::kSigned;
  const std::string spool = Or(policy.spool, DefaultTraceFile());
  std::string text = "trace: " + Or(policy.trace, spool + " (the spool)");
  if (IsConnectionString(policy.trace)) text += "; its password from ~/.pgpass or a service file";
  text += "\nspool: " + spool + (policy.spool.empty() ? " (the user's own file)" : "") + "\n";
  text += "reserve: " + std::to_string(policy.reserveMinutes) + " minutes of parts\n";
  text += "root certificate: " + Or(policy.rootCertificate, "(libpq's own choice)") + "\n";
  text += std::string("dry runs: ") +
          (policy.dryRunsRecorded ? "\"recorded\": production on the emulated programmer records as real "
                                    "production does\n"
                                  : "\"refused\": no production on the emulated programmer\n");
  return text +
         "refused here: --trust, QS71_TRUST_DIR, the user's own key folder, --trace, "
         "--library, --clear-refused but as the administrator, " +
         (policy.station.empty() ? "" : "--station, ") + "--write IMAGE --production" +
         (policy.dryRunsRecorded ? "" : ", --emulate --production") +
         (signedOnly ? ", --write but in a dry run" : "") + "\n";
}

}  // namespace

ExitCode ShowPolicyCommand(const PolicyLookup& lookup, TextSink& console) {
  if (lookup.found == PolicyFound::kNone) return WithoutPolicy(console);
  if (lookup.found == PolicyFound::kRefused) {
    console.Out("station policy: refused: " + lookup.problem +
                "\nthis station runs no job until its policy is mended\n");
    return ExitCode::kNotAnImage;
  }
  Trust trust;
  std::string problem;
  const bool trusted = LoadPolicyTrust(lookup.policy, trust, problem);
  console.Out(HeadLines(lookup) + TrustPlaceLine(lookup.policy) +
              (trusted ? KeyLines(trust) : "  refused: " + problem + "\n") +
              RecordLines(lookup.policy));
  return trusted ? ExitCode::kOk : ExitCode::kNotAnImage;
}

}  // namespace qs71prog
