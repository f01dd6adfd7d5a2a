// The options of the job files. A job fixes what a run may not change; any of those options
// beside a job file is refused by name, so that an operator never believes a typed voltage
// or count took effect. The job commands take only the options that shape what they make.
#include <string>
#include <vector>

#include "cli/given_options.h"
#include "trace/connection_password.h"

namespace qs71prog {

namespace {

struct JobAction {
  const char* option;
  std::string Given::*value;
  std::vector<const char*> takes;  // the options allowed beside it, itself included
  bool Given::*flag = nullptr;     // for an action without a value
};

bool Asked(const Given& given, const JobAction& action) {
  return action.flag != nullptr ? given.*action.flag : !(given.*action.value).empty();
}

const JobAction kActions[] = {
    {"--make-key", &Given::makeKey, {"--make-key"}},
    {"--make-job",
     &Given::makeJob,
     {"--make-job", "--write", "--no-verify", "--no-blank-check", "--vdd", "--blank-check-vdd",
      "--write-vdd", "--vpp", "--verify-vdd", "--expect-programmers", "--lot", "--work-order",
      "--job-name", "--sign"}},
    {"--show-job", &Given::showJob, {"--show-job", "--json", "--trust"}},
    {"--show-policy", &Given::showPolicy, {"--show-policy"}},
    {"--export-csv", &Given::exportCsv, {"--export-csv", "--trace", "--run", "--job", "--since"}},
    {"--report", &Given::report, {"--report", "--trace", "--run", "--job", "--since"}},
    {"--clear-refused", nullptr, {"--clear-refused", "--trace"}, &Given::clearRefused},
};

// What a production run takes from its job file and nowhere else.
const char* const kFixedByJob[] = {
    "--write", "--verify", "--blank-check", "--identify", "--no-verify", "--no-blank-check",
    "--vdd", "--blank-check-vdd", "--write-vdd", "--vpp", "--verify-vdd", "--count", "--force",
    "--clear-marker", "--expect-programmers", "--job-name", "--lot", "--work-order", "--sign"};

bool Takes(const JobAction& action, const std::string& option) {
  for (const char* taken : action.takes) {
    if (option == taken) return true;
  }
  return false;
}

bool CheckAction(const Given& given, const JobAction& action, std::string& error) {
  for (const std::string& option : given.named) {
    if (Takes(action, option)) continue;
    error = option + " does not go with " + action.option;
    return false;
  }
  if (&action == &kActions[1] && !given.write) {
    error = "--make-job needs --write IMAGE: the image the job holds";
  }
  for (const JobAction& other : kActions) {
    if (&other != &action && Asked(given, other)) {
      error = std::string("give one of --make-key, --make-job, --show-job, --show-policy, "
                          "--export-csv, --report and --clear-refused");
    }
  }
  return error.empty();
}

bool CheckJobFileRun(const Given& given, std::string& error) {
  for (const char* option : kFixedByJob) {
    if (!given.Named(option)) continue;
    // A part checked against the job's own image: nothing of the job is changed.
    const std::string name = option;
    const bool check = !given.production && ((name == "--verify" && !given.verify) ||
                                             name == "--identify");
    if (check) continue;
    error = std::string(option) + " cannot be given with the job file " + *given.job +
            ": the job fixes its image, voltages, checks, counts and name; make another job " +
            "to change them";
    return false;
  }
  return true;
}

}  // namespace

bool AsksForJobAction(const Given& given) {
  for (const JobAction& action : kActions) {
    if (Asked(given, action)) return true;
  }
  return false;
}

bool CheckJobOptionRules(const Given& given, std::string& error) {
  if (IsLibpqKeywords(given.trace)) {
    error = "--trace takes a postgresql:// string or an SQLite file's path, not libpq's "
            "keyword=value words: write postgresql://USER@HOST:PORT/DATABASE, with the password "
            "in ~/.pgpass";
    return false;
  }
  for (const JobAction& action : kActions) {
    if (Asked(given, action)) return CheckAction(given, action, error);
  }
  if (given.jobIsFile) return CheckJobFileRun(given, error);
  if (!given.sign.empty() || given.lot || given.workOrder) {
    error = "--sign, --lot and --work-order go with --make-job";
  } else if (!given.trust.empty()) {
    error = "--trust goes with --job FILE and --show-job";
  } else if (!given.run.empty() || !given.since.empty()) {
    error = "--run and --since choose what --export-csv and --report read";
  }
  return error.empty();
}

}  // namespace qs71prog
