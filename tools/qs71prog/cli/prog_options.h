#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/voltage_settings.h"
#include "job/job_phase.h"
#include "policy/station_policy.h"

namespace qs71prog {

// One qs71prog run, as the command line asked for it, with the defaults and implications
// already applied: --write brings its blank check and verify unless they are switched off.
struct Options {
  Selection selection;
  bool identifyOnly = false;
  bool clearMarker = false;
  bool force = false;  // --force: the image need only have a part's size
  bool locate = true;  // name the failing blocks after a failed blank check or verify
  std::string image;
  std::array<double, 4> volts{};  // indexed by Voltage
  std::string library;            // --library PATH, empty for the default
  bool emulate = false;
  std::string otpFile;  // --emulate=OTPFILE
  std::string transcript;
  bool json = false;
  bool list = false;        // --list: the attached programmers, nothing else
  std::string programmer;   // --programmer ID: number, serial or path; empty for the first
  bool production = false;  // --production: one part after another
  int count = 0;            // --count N: parts per programmer, 0 for no end
  bool stopOnFail = false;
  std::string log;  // --log FILE: CSV, one line appended per part
  bool all = false;  // --all: every attached programmer at once
  std::string station;       // --station NAME for the log, empty for the host's name
  std::string operatorName;  // --operator NAME for the log
  int expectProgrammers = 0;  // --expect-programmers N, 0 when not given
  std::string expectSha256;   // --expect-sha256 HEX, lower-case; empty when not given
  std::string jobName;        // --job-name NAME (or --job NAME), the screen's first line
  std::string summary;        // --summary FILE: the shift's summary as JSON at the end
  bool noColour = false;      // --no-color: plain letters on a terminal too
  bool bell = false;          // --bell: the terminal's bell on FAIL and LOST

  // Job files (job_file/). One of --make-key KEY, --make-job JOB (with --write IMAGE, the
  // settings it fixes, --sign KEY), --show-job JOB; or a production run's --job FILE, whose
  // image then is jobFile too, so that the run's files are kept apart from it.
  std::string makeKey;
  std::string makeJob;
  std::string showJob;
  std::string sign;                // --sign KEY: the secret key
  std::vector<std::string> trust;  // --trust FILE...: public keys, beside the trust folders
  int lot = 0;                     // --lot N: parts over all the job's runs, 0 for no limit
  std::string workOrder;           // --work-order TEXT
  std::string jobFile;             // --job FILE: a production run's job
  // What LoadJob took from jobFile, filled before the run (ApplyJobFile in
  // job_file/job_run.h): the parts get jobImage, never a file read again; the run's
  // pre-flight judges these bytes (PreflightImage).
  std::vector<uint8_t> jobImage;
  std::string jobSha256;  // the job file's own hash
  std::string jobSigner;  // the signing key's fingerprint, empty when not signed

  // The trace (trace/): where a production run records, and what --export-csv and --report
  // read. trace is a file, a postgresql:// connection string, or empty for the station's
  // default file; the filters are --run ID, --job HASH (traceJob) and --since TIME.
  std::string trace;
  std::string exportCsv;
  std::string report;
  std::string traceRun;
  std::string traceJob;
  std::string since;
  // --clear-refused: the events a line's server refused, sent again or cleared.
  bool clearRefused = false;

  // The station's policy (policy/): --show-policy asks what it decides; policy is what it
  // holds, filled once the command line is read (main.cpp), before any command runs; its
  // absence (policy.Present() false) leaves every choice to the options above.
  bool showPolicy = false;
  StationPolicy policy;

  double Volts(Voltage voltage) const { return volts[static_cast<size_t>(voltage)]; }
};

enum class Command { kRun, kHelp, kVersion, kUsageError };

// Reads the arguments after the program name. On kUsageError, error says what is wrong.
Command ParseArguments(const std::vector<std::string>& arguments, Options& options,
                       std::string& error);

}  // namespace qs71prog
