#pragma once
// The production trace: every run, every part and every event of a station in a database, so
// that a crash leaves the parts under way on record, a lot is counted across runs and
// stations, and a shift can be looked at as a whole. The same schema (trace/trace_schema.h)
// lives in SQLite on a station and in PostgreSQL for a line of stations; TraceStore is what a
// run needs of either.
//
// Every call is one transaction, on the disk (or committed by the server) before it returns:
// a part whose "started" event is not recorded is not made.

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "production/part_record.h"

namespace qs71prog {

// What a run makes: a job file by its own hash, or for a run of an image alone, the image's
// hash prefixed "image:" so that it can never be taken for a job file's.
struct TraceJob {
  std::string hash;
  std::string name;
  std::string workOrder;
  std::string signer;  // the signing key's fingerprint, empty when not signed
  std::string image;   // the image's name as the run gave it
  std::string imageSha256;
  int lot = 0;  // parts over all runs of the job, 0 for no limit
};

// How a run that stopped without ending (kill -9, a power cut) is ended by the next run of its
// station that finds it: the parts it left under way may then be judged by that station.
inline constexpr const char* kStoppedWithoutEnd = "stopped without an end";

struct TraceRun {
  std::string id;  // random, 128 bits (trace/random_id.h): never the same on two stations
  std::string job;
  std::string station;
  std::string operatorName;
  std::string host;
  std::string version;
  std::string startedAt;  // UTC, as PartRecord::time
  // Filled when the run ended; empty endedAt for a run still going or cut short by a crash.
  std::string endedAt;
  int exit = 0;
  std::string how;
  // The run's process on its host, so that a later run of the host can tell a crashed run
  // from one still going; 0 where unknown.
  long pid = 0;
};

// One event: a row of the CSV log, whole, with the job it belongs to and its place in its
// run. Its id ("<run>/<seq>") is what makes a second delivery of it (a forward repeated
// after a lost answer) change nothing; a different event under an id already taken is a
// conflict, refused with both named.
struct TraceEvent {
  std::string id;
  std::string job;
  int seq = 0;
  PartRecord row;
};

// A part as the parts table holds it: one attempt on a chip in a socket, with its own number.
// Its "started" event makes it (before the first write); its end ("part") gives the verdict,
// or makes it whole when the job ended before any write (a blank check that found the part
// written). result is empty while it is under way or after a crash cut it short.
struct TracePart {
  std::string job;
  int number = 0;
  std::string run;
  std::string programmer;  // its key: serial, or path where it has none
  std::string chipId;
  std::string result;
  std::string status;
  std::string step;  // where its job ended: "identify", "blank-check", "write", "verify"
  int exit = 0;
  int code = 0;
  double seconds = 0.0;
  std::array<double, kLastStage + 1> stepSeconds{-1.0, -1.0, -1.0, -1.0};
  std::vector<std::string> blocks;
  std::string startedAt;
  std::string endedAt;
};

// How far a job's lot is: the lot is a number of good parts, however many attempts it takes.
// Numbers count attempts. good: passed, or written without a verify; scrap: failed, or cut
// short after the write began; open: numbers granted and not judged yet (a part under way, a
// station's reserve, a part a crash cut short), which may still become good parts.
struct LotState {
  int lot = 0;  // 0: no limit
  int good = 0;
  int scrap = 0;
  int open = 0;
  // Empty while these are the trace's own figures; the UTC time of the last figures the
  // line's trace gave while it does not answer.
  std::string since;
  // The station's own count of the job, from its own trace: the line's server never answered.
  bool stationOnly = false;

  bool Limited() const { return lot > 0; }
  bool Complete() const { return lot > 0 && good >= lot; }
  int ToGo() const { return lot > good ? lot - good : 0; }
  // How many more numbers may be granted without the lot's good parts passing it.
  int Room() const { return lot > 0 ? std::max(lot - good - open, 0) : 0; }
  // The most one grant takes of it: half, so that no station's reserve holds the rest of a lot
  // while another has none; all of a room that is down to a reserve's least.
  int Share() const { return Room() <= kSmallestShare ? Room() : (Room() + 1) / 2; }
  static constexpr int kSmallestShare = 4;
};

// Numbers granted to a station for a job, unique per job across every station on the trace.
// A station keeps a reserve of them, so that one cut off from a line's server can go on, and
// gives back by the grant's id what it did not use.
struct NumberGrant {
  std::string id;  // chosen by the station: asking again with it gives the same numbers
  std::vector<int> numbers;
  LotState lot;  // after this grant
};

// A grant not given back, of a run that may have crashed; unused: its numbers no part took.
struct OpenGrant {
  std::string id;
  std::string job;
  std::string run;
  long pid = 0;
  bool runEnded = false;
  std::vector<int> unused;
};

// What export and report read: everything the filter selects, in order.
struct TraceFilter {
  std::string run;    // a run's ID
  std::string job;    // a job's hash, or a prefix of it of 6 or more hex digits
  std::string since;  // UTC as the trace writes it ("2026-12-07T19:40:00Z" or a prefix)
  // False leaves out the numbered parts' own events ("started", and "part" with a number),
  // which the parts table holds as well: nearly every event of a trace, and all a report
  // would load for nothing. A part without a number (untouched, ALREADY) is in its event only.
  bool partEvents = true;
};
struct TraceContents {
  std::vector<TraceJob> jobs;
  std::vector<TraceRun> runs;    // by start
  std::vector<TracePart> parts;  // by job, then number
  std::vector<TraceEvent> events;  // by run start, then seq
  std::vector<LotState> lots;      // one per job, in the jobs' order: over all the job's runs
};

class TraceStore {
 public:
  virtual ~TraceStore() = default;
  // The trace as the screen names it: a file's path, or the server without its password.
  virtual std::string Name() const = 0;
  // Opens the trace, creating the schema in an empty one and bringing an older one up to date;
  // a trace of a newer schema, or no trace at all, is refused with the reason. A trace whose
  // next numbers are behind its parts (a backup restored) is repaired, and Notes says so.
  virtual bool Open(std::string& problem) = 0;
  // For reading alone (an export, a report): nothing is created, changed or sent.
  virtual bool OpenToRead(std::string& problem) = 0;
  // What Open repaired, and anything else a run should say at its start.
  virtual std::vector<std::string> Notes() const { return {}; }
  // The job (added when new; a job is never changed once recorded) and the run. The same run
  // recorded again changes nothing; another job or run under a hash or ID already taken is a
  // conflict.
  virtual bool BeginRun(const TraceJob& job, const TraceRun& run, std::string& problem) = 0;
  // Up to want numbers of job for run under grant.id, never more than the lot has room for:
  // the ones given back first, then new ones above every number granted, every part and floor.
  // A grant's id asked again gives its numbers again.
  virtual bool TakeNumbers(const std::string& job, const std::string& run, int want, int floor,
                           NumberGrant& grant, std::string& problem) = 0;
  // The numbers of a grant that no part used. Only numbers the grant still holds go back, so
  // a give-back repeated changes nothing; the grant is closed.
  virtual bool GiveBack(const std::string& job, const std::string& grant,
                        const std::vector<int>& numbers, std::string& problem) = 0;
  // One event. A "started" event adds its part, a "part" event ends it (or adds it, for a part
  // that never got to its write); in one transaction. The same event again changes nothing.
  virtual bool Record(const TraceEvent& event, std::string& problem) = 0;
  virtual bool EndRun(const TraceRun& run, std::string& problem) = 0;
  virtual bool Lot(const std::string& job, LotState& state, std::string& problem) = 0;
  // Parts that were started and never ended, in runs of this host other than run, and the
  // pids of their runs, so that the caller can tell a crashed run from one still going.
  virtual bool Unfinished(const std::string& host, const std::string& run,
                          std::vector<TracePart>& parts, std::vector<long>& pids,
                          std::string& problem) = 0;
  // Grants not given back, of runs of this host other than run.
  virtual bool OpenGrants(const std::string& host, const std::string& run,
                          std::vector<OpenGrant>& grants, std::string& problem) = 0;
  virtual bool Load(const TraceFilter& filter, TraceContents& contents, std::string& problem) = 0;
  // False when the trace's file is no longer the one opened (deleted, or replaced by another
  // file): every later row would go where nobody looks.
  virtual bool StillInPlace(std::string& problem) { return (void)problem, true; }
  // True while a line's server does not answer: numbers can then come only from a reserve.
  virtual bool Away() const { return false; }
  // Events waiting for a line's server; 0 for a trace without one.
  virtual int Waiting() const { return 0; }
  // Events a line's server refused, set aside in the station's spool until cleared.
  virtual int Refused() const { return 0; }
  // For the screen, while a line's server has not got everything: "recording locally, 3
  // events waiting"; empty otherwise.
  virtual std::string Backlog() const { return ""; }
};

}  // namespace qs71prog
