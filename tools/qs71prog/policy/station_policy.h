#pragma once
// A station's policy: what an administrator decided for this station, in one file only the
// administrator can change (/etc/qs71/station.toml; Windows %PROGRAMDATA%\qs71\station.toml).
// Where there is one, it is the only source of the station's trust and of its trace; where
// there is none, the command line and the user's folders decide, as on an engineer's desk.
//
// The rest of qs71prog reads it as plain data, through Options::policy: the keys below, each
// already checked (paths absolute, texts one line of UTF-8, the trace without a password).

#include <string>
#include <vector>

namespace qs71prog {

enum class JobsRule {
  kSigned,  // jobs = "signed": production runs only job files signed by a key it trusts
  kAny,     // jobs = "any": unsigned job files run too
};

struct StationPolicy {
  std::string file;     // where it was read; empty: the station has no policy
  std::string station;  // the station's name in the log and the trace; empty: the host's
  JobsRule jobs = JobsRule::kSigned;
  // trusted-keys: a folder whose *.pub files are the keys, or a list of key files.
  std::string keyFolder;
  std::vector<std::string> keyFiles;
  // The trace (a postgresql:// string or an SQLite file) and the station's own SQLite file,
  // its spool and queue; empty for the default of each (the trace: the spool; the spool: the
  // user's own state file).
  std::string trace;
  std::string spool;
  int reserveMinutes = 30;      // the part numbers kept in reserve, as a time at the station's rate
  std::string rootCertificate;  // the line server's CA for TLS; empty: libpq's own default
  // dry-runs = "recorded": production runs on the emulated programmer record into the trace and
  // count in its lots, as on a line of emulated programmers made for tests and training. By
  // default they are refused: their parts are no parts, and would complete a real lot.
  bool dryRunsRecorded = false;

  bool Present() const { return !file.empty(); }
};

// How far reserve-minutes may go: a weekend's outage, at most.
constexpr int kLeastReserveMinutes = 1;
constexpr int kMostReserveMinutes = 7 * 24 * 60;

// The first line's and the summary's words for it: "no station policy: any job runs", or
// "station policy /etc/qs71/station.toml: only jobs signed by a trusted key run".
std::string PolicyWords(const StationPolicy& policy);

}  // namespace qs71prog
