#include "cli/prog_options.h"

#include <optional>

#include "ascii_case.h"
#include "cli/given_options.h"
#include "file_system.h"

namespace qs71prog {

namespace {

// kOptional: the next argument when there is one that is not an option, else none.
enum class Value { kNone, kRequired, kAttachedOnly, kOptional };

using Apply = bool (*)(Given&, const std::string& value, std::string& error);

struct OptionRule {
  const char* name;
  Value value;
  Apply apply;
};

bool SetImage(std::optional<std::string>& slot, const char* option, const std::string& value,
              std::string& error) {
  if (value.empty()) {
    error = std::string(option) + " needs an image file name";
    return false;
  }
  slot = value;
  return true;
}

bool TakeVolts(std::optional<double>& slot, const std::string& option, const std::string& value,
               bool vddFamily, Voltage voltage, std::string& error) {
  double volts = 0.0;
  if (!ParseVolts(value, volts)) {
    error = option + " needs a voltage in volts, not \"" + value + "\"";
    return false;
  }
  for (const VoltageSetting& setting : VoltageSettings()) {
    const bool concerned = vddFamily ? setting.isVdd : setting.voltage == voltage;
    if (concerned) error = CheckVolts(setting, option, volts);
    if (!error.empty()) return false;
  }
  slot = volts;
  return true;
}

template <Voltage V>
bool SetVolts(Given& given, const std::string& value, std::string& error) {
  return TakeVolts(given.volts[static_cast<size_t>(V)], SettingOf(V).option, value, false, V,
                   error);
}

bool SetFlag(bool& flag) { return flag = true; }

// The flags, by the member they set.
template <bool Given::*Member>
bool Flag(Given& given, const std::string&, std::string&) {
  return SetFlag(given.*Member);
}

template <std::string Given::*Member>
bool Text(Given& given, const std::string& value, std::string&) {
  given.*Member = value;
  return true;
}

bool Write(Given& given, const std::string& value, std::string& error) {
  return SetImage(given.write, "--write", value, error);
}

// --verify without an image checks the part against a job file's image (--job FILE).
bool Verify(Given& given, const std::string& value, std::string& error) {
  if (value.empty()) return given.verifyJob = true;
  return SetImage(given.verify, "--verify", value, error);
}

// --job FILE with --verify or --identify alone: a part checked against the job's image, so
// that a station that has only the job file can look at a part a crash left.
bool ChecksAgainstJob(const Given& given) {
  return given.jobIsFile && !given.production && (given.verifyJob || given.identify);
}

bool AnyVdd(Given& given, const std::string& value, std::string& error) {
  return TakeVolts(given.vdd, "--vdd", value, true, Voltage::kWriteVdd, error);
}

bool Emulate(Given& given, const std::string& value, std::string&) {
  given.otpFile = value;
  return SetFlag(given.emulate);
}

// A count from 1 to most, or -1.
int Number(const std::string& value, int most) {
  int number = 0;
  for (char c : value) {
    number = c >= '0' && c <= '9' && number <= most ? number * 10 + (c - '0') : -1;
    if (number < 0) break;
  }
  return value.empty() || number < 1 || number > most ? -1 : number;
}

bool Count(Given& given, const std::string& value, std::string& error) {
  constexpr int kMostParts = 1000000;
  const int parts = Number(value, kMostParts);
  if (parts < 0) {
    error = "--count needs a number of parts from 1 to " + std::to_string(kMostParts) +
            ", not \"" + value + "\"";
    return false;
  }
  given.count = parts;
  return true;
}

bool ExpectProgrammers(Given& given, const std::string& value, std::string& error) {
  given.expectProgrammers = Number(value, 64);
  if (given.expectProgrammers < 0) {
    error = "--expect-programmers needs a number of programmers from 1 to 64, not \"" + value +
            "\"";
    return false;
  }
  return true;
}

bool ExpectSha256(Given& given, const std::string& value, std::string& error) {
  if (value.size() != 64 ||
      value.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    error = "--expect-sha256 needs the image's SHA-256 as 64 hex digits";
    return false;
  }
  given.expectSha256 = AsciiLowerCopy(value);
  return true;
}

// The job files' options name files; an empty name would leave the option unseen.
template <std::string Given::*Member>
bool FileName(Given& given, const std::string& value, std::string& error) {
  if (value.empty()) {
    error = "a file name must follow " + given.named.back();
    return false;
  }
  given.*Member = value;
  return true;
}

bool Job(Given& given, const std::string& value, std::string&) {
  given.job = value;
  return true;
}

bool Trust(Given& given, const std::string& value, std::string&) {
  given.trust.push_back(value);
  return true;
}

bool WorkOrder(Given& given, const std::string& value, std::string&) {
  given.workOrder = value;
  return true;
}

// 0 is a lot without a limit.
bool Lot(Given& given, const std::string& value, std::string& error) {
  constexpr int kMostParts = 100000000;
  const int parts = value == "0" ? 0 : Number(value, kMostParts);
  if (parts < 0) {
    error = "--lot needs a number of parts from 0 (no limit) to " + std::to_string(kMostParts) +
            ", not \"" + value + "\"";
    return false;
  }
  given.lot = parts;
  return true;
}

bool ShowPolicy(Given& given, const std::string&, std::string&) {
  given.showPolicy = "--show-policy";
  return true;
}

template <Command C>
bool Stop(Given& given, const std::string&, std::string&) {
  given.command = C;
  return true;
}

const OptionRule kOptions[] = {
    {"--blank-check", Value::kNone, Flag<&Given::blankCheck>},
    {"--write", Value::kRequired, Write},
    {"--verify", Value::kOptional, Verify},
    {"--identify", Value::kNone, Flag<&Given::identify>},
    {"--no-blank-check", Value::kNone, Flag<&Given::noBlankCheck>},
    {"--no-verify", Value::kNone, Flag<&Given::noVerify>},
    {"--clear-marker", Value::kNone, Flag<&Given::clearMarker>},
    {"--force", Value::kNone, Flag<&Given::force>},
    {"--no-locate", Value::kNone, Flag<&Given::noLocate>},
    {"--vdd", Value::kRequired, AnyVdd},
    {"--blank-check-vdd", Value::kRequired, SetVolts<Voltage::kBlankCheckVdd>},
    {"--write-vdd", Value::kRequired, SetVolts<Voltage::kWriteVdd>},
    {"--vpp", Value::kRequired, SetVolts<Voltage::kWriteVpp>},
    {"--verify-vdd", Value::kRequired, SetVolts<Voltage::kVerifyVdd>},
    {"--library", Value::kRequired, Text<&Given::library>},
    {"--emulate", Value::kAttachedOnly, Emulate},
    {"--transcript", Value::kRequired, Text<&Given::transcript>},
    {"--json", Value::kNone, Flag<&Given::json>},
    {"--list", Value::kNone, Flag<&Given::list>},
    {"--programmer", Value::kRequired, Text<&Given::programmer>},
    {"--production", Value::kNone, Flag<&Given::production>},
    {"--count", Value::kRequired, Count},
    {"--stop-on-fail", Value::kNone, Flag<&Given::stopOnFail>},
    {"--log", Value::kRequired, Text<&Given::log>},
    {"--all", Value::kNone, Flag<&Given::all>},
    {"--station", Value::kRequired, Text<&Given::station>},
    {"--expect-programmers", Value::kRequired, ExpectProgrammers},
    {"--expect-sha256", Value::kRequired, ExpectSha256},
    {"--job", Value::kRequired, Job},
    {"--job-name", Value::kRequired, Text<&Given::jobName>},
    {"--make-key", Value::kRequired, FileName<&Given::makeKey>},
    {"--make-job", Value::kRequired, FileName<&Given::makeJob>},
    {"--show-job", Value::kRequired, FileName<&Given::showJob>},
    {"--show-policy", Value::kNone, ShowPolicy},
    {"--sign", Value::kRequired, FileName<&Given::sign>},
    {"--trust", Value::kRequired, Trust},
    {"--lot", Value::kRequired, Lot},
    {"--work-order", Value::kRequired, WorkOrder},
    {"--summary", Value::kRequired, Text<&Given::summary>},
    {"--trace", Value::kRequired, Text<&Given::trace>},
    {"--export-csv", Value::kRequired, FileName<&Given::exportCsv>},
    {"--report", Value::kRequired, Text<&Given::report>},
    {"--run", Value::kRequired, Text<&Given::run>},
    {"--since", Value::kRequired, Text<&Given::since>},
    {"--clear-refused", Value::kNone, Flag<&Given::clearRefused>},
    {"--no-color", Value::kNone, Flag<&Given::noColour>},
    {"--bell", Value::kNone, Flag<&Given::bell>},
    {"--operator", Value::kRequired, Text<&Given::operatorName>},
    {"--help", Value::kNone, Stop<Command::kHelp>},
    {"--version", Value::kNone, Stop<Command::kVersion>},
};

const OptionRule* FindOption(const std::string& name) {
  for (const OptionRule& rule : kOptions) {
    if (name == rule.name) return &rule;
  }
  return nullptr;
}

// A value that looks like the next option is a forgotten value, not a file named "--verify".
bool TakeValue(const std::vector<std::string>& arguments, size_t& index, const std::string& name,
               std::string& value, std::string& error) {
  if (index + 1 >= arguments.size() || arguments[index + 1].starts_with("--")) {
    error = name + " needs a value";
    return false;
  }
  value = arguments[++index];
  return true;
}

// "-h" and "-V", the two short forms everyone types.
bool TakeShortOption(const std::string& argument, Given& given) {
  if (argument != "-h" && argument != "-V") return false;
  given.command = argument == "-h" ? Command::kHelp : Command::kVersion;
  return true;
}

// A value given after "=" must suit the option: none for a flag, a name for --emulate=.
bool CheckAttached(const OptionRule& rule, const std::string& name, bool attached,
                   const std::string& value, std::string& error) {
  if (rule.value == Value::kNone && attached) {
    error = name + " takes no value";
  } else if (rule.value == Value::kAttachedOnly && attached && value.empty()) {
    error = name + "= needs a file name after the =";
  }
  return error.empty();
}

bool TakeArgument(const std::vector<std::string>& arguments, size_t& index, Given& given,
                  std::string& error) {
  const std::string& argument = arguments[index];
  if (TakeShortOption(argument, given)) return true;
  if (!argument.starts_with("--")) {
    error = "unexpected argument \"" + argument + "\" (options start with --)";
    return false;
  }
  const size_t equals = argument.find('=');
  const std::string name = argument.substr(0, equals);
  const bool attached = equals != std::string::npos;
  std::string value = attached ? argument.substr(equals + 1) : "";
  const OptionRule* rule = FindOption(name);
  if (rule == nullptr) {
    error = "unknown option " + name;
    return false;
  }
  given.named.push_back(name);
  if (!CheckAttached(*rule, name, attached, value, error)) return false;
  if (rule->value == Value::kRequired && !attached &&
      !TakeValue(arguments, index, name, value, error)) {
    return false;
  }
  if (rule->value == Value::kOptional && !attached && index + 1 < arguments.size() &&
      !arguments[index + 1].starts_with("--")) {
    value = arguments[++index];
  }
  return rule->apply(given, value, error);
}

// Each rule names a combination that cannot be what the operator meant.
struct Conflict {
  bool (*applies)(const Given&);
  const char* complaint;
};

const Conflict kConflicts[] = {
    {[](const Given& g) { return g.write && g.verify && *g.write != *g.verify; },
     "--write and --verify must name the same image: the library writes and verifies one file"},
    {[](const Given& g) { return g.verifyJob && !g.jobIsFile; },
     "--verify needs an image: --verify IMAGE, or --job FILE --verify for the job's image"},
    {[](const Given& g) { return g.noVerify && g.verify.has_value(); },
     "--no-verify contradicts --verify"},
    {[](const Given& g) { return g.noBlankCheck && g.blankCheck; },
     "--no-blank-check contradicts --blank-check"},
    {[](const Given& g) { return (g.noVerify || g.noBlankCheck) && !g.write; },
     "--no-verify and --no-blank-check only change what --write does"},
    {[](const Given& g) { return g.clearMarker && !g.write; }, "--clear-marker needs --write"},
    {[](const Given& g) { return g.force && !g.write && !g.verify; },
     "--force only changes which files --write and --verify take"},
    {[](const Given& g) { return !g.transcript.empty() && !g.emulate; },
     "--transcript records the emulated programmer's reports and needs --emulate"},
    {[](const Given& g) {
       return g.list && (g.blankCheck || g.write || g.verify || g.identify || g.production ||
                         !g.programmer.empty());
     },
     "--list only lists the attached programmers"},
    {[](const Given& g) { return g.production && !g.write && !g.jobIsFile; },
     "--production needs --write IMAGE or --job FILE: it writes one part after another"},
    {[](const Given& g) { return g.job && !g.jobIsFile && !g.jobName.empty(); },
     "--job NAME and --job-name NAME both name the job: give --job-name alone"},
    {[](const Given& g) {
       return !g.production && (g.count || g.stopOnFail || !g.log.empty() || g.all);
     },
     "--count, --stop-on-fail, --log and --all go with --production"},
    {[](const Given& g) {
       return !g.production && (!g.station.empty() || !g.operatorName.empty() ||
                                (g.job && !ChecksAgainstJob(g)) || !g.jobName.empty() || g.expectProgrammers > 0 ||
                                !g.expectSha256.empty() || !g.summary.empty() || g.noColour ||
                                g.bell);
     },
     "--station, --operator, --job, --job-name, --expect-programmers, --expect-sha256, "
     "--summary, --no-color and --bell go with --production (--job FILE also with --verify "
     "or --identify alone)"},
    {[](const Given& g) { return !g.production && !g.trace.empty(); },
     "--trace goes with --production, --export-csv and --report"},
    {[](const Given& g) { return g.all && !g.programmer.empty(); },
     "--all runs on every programmer, --programmer on one: give one of them"},
    {[](const Given& g) { return g.production && !g.otpFile.empty(); },
     "--production takes its parts from the emulated sockets (QS71_EMU_SOCKET), not from "
     "--emulate=OTPFILE"},
    {[](const Given& g) {
       return !g.list && !g.blankCheck && !g.write && !g.verify && !g.identify && !g.jobIsFile;
     },
     "nothing to do: give --blank-check, --write IMAGE, --verify IMAGE or --identify"},
};

void ResolveVolts(const Given& given, Options& options) {
  for (const VoltageSetting& setting : VoltageSettings()) {
    const size_t index = static_cast<size_t>(setting.voltage);
    double volts = setting.fallback;
    if (setting.isVdd && given.vdd) volts = *given.vdd;
    if (given.volts[index]) volts = *given.volts[index];
    options.volts[index] = volts;
  }
}

bool CheckConflicts(const Given& given, std::string& error) {
  if (!CheckJobOptionRules(given, error)) return false;
  if (AsksForJobAction(given)) return true;
  for (const Conflict& conflict : kConflicts) {
    if (!conflict.applies(given)) continue;
    error = conflict.complaint;
    return false;
  }
  return true;
}

void ResolveJobFiles(const Given& given, Options& options) {
  options.makeKey = given.makeKey;
  options.makeJob = given.makeJob;
  options.showJob = given.showJob;
  options.showPolicy = !given.showPolicy.empty();
  options.sign = given.sign;
  options.trust = given.trust;
  options.lot = given.lot.value_or(0);
  options.workOrder = given.workOrder.value_or("");
  options.jobFile = given.jobIsFile ? *given.job : "";
  if (given.job && !given.jobIsFile) options.jobName = *given.job;
  options.trace = given.trace;
  options.exportCsv = given.exportCsv;
  options.report = given.report;
  options.traceRun = given.run;
  options.since = given.since;
  options.clearRefused = given.clearRefused;
  // Beside --export-csv and --report, --job names a job of the trace by its hash.
  if (!given.exportCsv.empty() || !given.report.empty()) options.traceJob = given.job.value_or("");
  if (given.jobIsFile) options.image = *given.job;
}

bool Resolve(const Given& given, Options& options, std::string& error) {
  if (!CheckConflicts(given, error)) return false;
  const bool write = given.write.has_value();
  options.selection.write = write;
  options.selection.verify =
      given.verify.has_value() || given.verifyJob || (write && !given.noVerify);
  options.selection.blankCheck = given.blankCheck || (write && !given.noBlankCheck);
  options.identifyOnly =
      given.identify && !options.selection.blankCheck && !write && !options.selection.verify;
  options.image = write ? *given.write : given.verify.value_or("");
  options.clearMarker = given.clearMarker;
  options.force = given.force;
  options.locate = !given.noLocate;
  options.library = given.library;
  options.emulate = given.emulate;
  options.otpFile = given.otpFile;
  options.transcript = given.transcript;
  options.json = given.json;
  options.list = given.list;
  options.programmer = given.programmer;
  options.production = given.production;
  options.count = given.count.value_or(0);
  options.stopOnFail = given.stopOnFail;
  options.log = given.log;
  options.all = given.all;
  options.station = given.station;
  options.operatorName = given.operatorName;
  options.expectProgrammers = given.expectProgrammers;
  options.expectSha256 = given.expectSha256;
  options.jobName = given.jobName;
  options.summary = given.summary;
  options.noColour = given.noColour;
  options.bell = given.bell;
  ResolveVolts(given, options);
  ResolveJobFiles(given, options);
  return true;
}

}  // namespace

bool Given::Named(std::string_view option) const {
  for (const std::string& name : named) {
    if (name == option) return true;
  }
  return false;
}

Command ParseArguments(const std::vector<std::string>& arguments, Options& options,
                       std::string& error) {
  Given given;
  for (size_t index = 0; index < arguments.size(); ++index) {
    if (!TakeArgument(arguments, index, given, error)) return Command::kUsageError;
    if (given.command != Command::kRun) return given.command;
  }
  // A --job that names a file, whatever the file holds, is a job file: a damaged job must be
  // refused as one, not taken for a label while the run goes on without it.
  given.jobIsFile = given.job && IdentifyFile(given.job->c_str()).exists;
  options = Options();
  return Resolve(given, options, error) ? Command::kRun : Command::kUsageError;
}

}  // namespace qs71prog
