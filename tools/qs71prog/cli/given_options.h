#pragma once
// The command line as given, before defaults and implications: what prog_options.cpp reads
// and the rules of cli/ judge.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/prog_options.h"

namespace qs71prog {

struct Given {
  Command command = Command::kRun;
  bool blankCheck = false;
  bool identify = false;
  bool noBlankCheck = false;
  bool noVerify = false;
  bool clearMarker = false;
  bool force = false;
  bool noLocate = false;
  std::optional<std::string> write;
  std::optional<std::string> verify;
  bool verifyJob = false;  // --verify without an image: the job file's
  std::optional<double> vdd;
  std::array<std::optional<double>, 4> volts;
  std::string library;
  bool emulate = false;
  std::string otpFile;
  std::string transcript;
  bool json = false;
  bool list = false;
  std::string programmer;
  bool production = false;
  std::optional<int> count;
  bool stopOnFail = false;
  std::string log;
  bool all = false;
  std::string station;
  std::string operatorName;
  int expectProgrammers = 0;
  std::string expectSha256;
  std::optional<std::string> job;  // --job: a job file when it names a file, else a label
  std::string jobName;              // --job-name
  std::string summary;
  bool noColour = false;
  bool bell = false;
  std::string makeKey;
  std::string makeJob;
  std::string showJob;
  std::string sign;
  std::vector<std::string> trust;
  std::optional<int> lot;
  std::optional<std::string> workOrder;
  std::string trace;      // --trace FILE or postgresql://...
  std::string exportCsv;  // --export-csv FILE
  std::string report;     // --report FILE, or - for text on standard output
  std::string run;        // --run ID
  std::string since;      // --since TIME
  std::string showPolicy;  // "--show-policy" when asked, a command as --show-job is
  bool clearRefused = false;  // --clear-refused
  std::vector<std::string> named;  // every option given, by its name
  bool jobIsFile = false;          // --job names a file that exists

  bool Named(std::string_view option) const;
};


// The rules of the job files' options (job_option_rules.cpp): one of --make-key, --make-job
// and --show-job with only the options it takes, and a production run's --job FILE with none
// of the settings its job fixes. False with error naming the option.
bool CheckJobOptionRules(const Given& given, std::string& error);

// Whether given asks for one of --make-key, --make-job, --show-job, --show-policy, --export-csv,
// --report and --clear-refused.
bool AsksForJobAction(const Given& given);

}  // namespace qs71prog
