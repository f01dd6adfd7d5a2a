#pragma once
// The production trace: every run, every part and every event of a station in a database, so
// that a crash leaves the parts under way on record, a lot is counted across runs and
// stations, and a shift can be looked at as a whole. The same schema (trace/trace_schema.h)
// lives in SQLite on a station and in PostgreSQL for a line of stations; TraceStore is what a
// run needs of either.
//
// Every call is one transaction, on the disk (or committed by the server) before it returns:
// a part whose "started" event is not recorded is not made.

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

struct TraceRun {
  std::string id;  // "20261207T194000Z-4711": its UTC start and process
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
};

// One event: a row of the CSV log, whole, with the job it belongs to and its place in its
// run. Its id ("<run>/<seq>") is what makes a second delivery of it (a forward repeated
// after a lost answer) change nothing.
struct TraceEvent {
  std::string id;
  std::string job;
  int seq = 0;
  PartRecord row;
};

// A part as the parts table holds it: its "started" event makes it, its end ("part") fills
// in the verdict. result is empty while it is under way or after a crash cut it short.
struct TracePart {
  std::string job;
  int number = 0;
  std::string run;
  std::string programmer;  // its key: serial, or path where it has none
  std::string chipId;
  std::string result;
  std::string status;
  int exit = 0;
  int code = 0;
  double seconds = 0.0;
  std::array<double, kLastStage + 1> stepSeconds{-1.0, -1.0, -1.0, -1.0};
  std::vector<std::string> blocks;
  std::string startedAt;
  std::string endedAt;
};

// Numbers granted to a station for a job: [first, first + count). Numbers are unique per job
// across every station on the trace; a station asks for a few at a time and gives back the
// ones it did not use, so that a station cut off from the server can go on for a while.
struct NumberGrant {
  std::vector<int> numbers;
  int lot = 0;
  int made = 0;  // numbers of the job taken by parts so far
  bool exhausted = false;  // every number of the lot granted: none left for any station
};

// What export and report read: everything the filter selects, in order.
struct TraceFilter {
  std::string run;    // a run's ID
  std::string job;    // a job's hash, or a prefix of it of 6 or more hex digits
  std::string since;  // UTC as the trace writes it ("2026-12-07T19:40:00Z" or a prefix)
  // False leaves out the parts' own events ("started" and "part"), which the parts table
  // holds as well: nearly every event of a trace, and all a report would load for nothing.
  bool partEvents = true;
};
struct TraceContents {
  std::vector<TraceJob> jobs;
  std::vector<TraceRun> runs;    // by start
  std::vector<TracePart> parts;  // by job, then number
  std::vector<TraceEvent> events;  // by run start, then seq
};

class TraceStore {
 public:
  virtual ~TraceStore() = default;
  // The trace as the screen names it: a file's path, or the server without its password.
  virtual std::string Name() const = 0;
  // Opens the trace, creating the schema in an empty one and bringing an older one up to date;
  // a trace of a newer schema, or no trace at all, is refused with the reason.
  virtual bool Open(std::string& problem) = 0;
  // For reading alone (an export, a report): nothing is created or changed.
  virtual bool OpenToRead(std::string& problem) { return Open(problem); }
  // The job (added when new; a job is never changed once recorded) and the run.
  virtual bool BeginRun(const TraceJob& job, const TraceRun& run, std::string& problem) = 0;
  // Up to want numbers of job, none beyond its lot: the ones given back first, then new ones
  // above both the highest ever granted and floor.
  virtual bool TakeNumbers(const std::string& job, int want, int floor, NumberGrant& grant,
                           std::string& problem) = 0;
  // Numbers granted and never used by a part.
  virtual bool GiveBack(const std::string& job, const std::vector<int>& numbers,
                        std::string& problem) = 0;
  // One event. A "started" event adds its part, a "part" event ends it; in one transaction.
  virtual bool Record(const TraceEvent& event, std::string& problem) = 0;
  virtual bool EndRun(const TraceRun& run, std::string& problem) = 0;
  // The job's lot: numbers taken by parts, and whether every number of the lot is taken.
  virtual bool Lot(const std::string& job, NumberGrant& state, std::string& problem) = 0;
  // Parts that were started and never ended, in runs of this host other than run, with their
  // runs, so that the caller can tell a crashed run from one still going.
  virtual bool Unfinished(const std::string& host, const std::string& run,
                          std::vector<TracePart>& parts, std::string& problem) = 0;
  virtual bool Load(const TraceFilter& filter, TraceContents& contents, std::string& problem) = 0;
  // For the screen, while a line's server has not got everything: "recording locally, 3
  // events waiting"; empty otherwise.
  virtual std::string Backlog() const { return ""; }
};

}  // namespace qs71prog
