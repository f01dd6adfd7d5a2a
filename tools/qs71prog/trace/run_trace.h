#pragma once
// A production run's side of the trace: which trace it records into, the job and the run,
// every row the CSV log gets (each with its place in the run), and the part numbers, taken
// from the trace so that they are unique per job over every run and station that share it.
//
// A run keeps a reserve of numbers that covers a time, not a count: reserveMinutes at the
// run's own rate so far (at least kLeastReserve), never more than half of what the lot has
// room for at each grant (LotState::Share). A
// station cut off from a line's server goes on from its reserve, and when that is empty it
// waits for the server rather than ending. The reserve's numbers are grants recorded in the
// trace: what a run did not use goes back at its end, and what a crashed run of this host
// held goes back at the next run's start.

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "trace/trace_store.h"

namespace qs71prog {

constexpr int kReserveMinutes = 30;
constexpr int kLeastReserve = 4;
// The rate is taken over a quarter of a minute at least: the parts of a run's first seconds
// (every programmer's first at once) say little of it, and a fast station's first minute must
// be covered as well as its later ones.
constexpr double kLeastRateMinutes = 0.25;

// Where a run records: --trace's target or the station policy's, the station's own file
// beside a line's server (its spool; empty: the default file), the CA that the line's server
// must prove itself by (empty: libpq's own choice), and the reserve's time (reserve-minutes).
struct TracePlace {
  // A SQLite file, a postgresql:// (or postgres://) connection string for a line of
  // stations, or empty for the station's own file, whose folders are made.
  std::string target;
  std::string spool{};
  std::string rootCertificate{};
  int reserveMinutes = kReserveMinutes;
};

// The store for place: a line's (the server and the spool) or a SQLite file. False with
// the reason when there is none to use.
bool ChooseTraceStore(const TracePlace& place, std::unique_ptr<TraceStore>& store,
                      std::string& problem);

// The store a report or an export reads, opened to read: the server alone for a line's
// trace (what a station recorded locally is not the line's), never created or changed.
bool OpenTraceToRead(const TracePlace& place, std::unique_ptr<TraceStore>& store,
                     std::string& problem);

// "3 events the line refused", as the screen and the report say it.
std::string RefusedText(int count);

// The station's own file for place: its spool, or the default file.
std::string SpoolFile(const TracePlace& place);

// The SQLite file a run at place records in: the station's own beside a line's server or where
// no trace is named, else the file named; empty where there is none.
std::string RecordFile(const TracePlace& place);

// How many numbers a reserve should hold: minutes of parts at the rate of taken parts in
// running minutes (kLeastRateMinutes at least), at least kLeastReserve.
int ReserveTarget(int taken, double running, int minutes);

// "lot 40: 32 good, 6 scrap, 8 to go", with when the line's trace last said so while it does
// not answer; empty for a job without a lot.
std::string LotLine(const LotState& state);

// Why a run ends at its lot: "the lot of 40 parts is complete: 40 good, 6 scrap; the run
// ends", or, while its last good parts are under way (on another programmer or station), "...
// is complete or under way: 38 good, 2 under way; the run ends".
std::string LotEndText(const LotState& state);

enum class NumberTaken {
  kTaken,
  kLotDone,  // every good part of the lot is made, or could still be made under way elsewhere
  kWaiting,  // the line's server does not answer and the reserve is empty: try again
  kFailed,
};

class RunTrace {
 public:
  // The trace is opened, the job and the run recorded, before the first part: a trace that
  // cannot be written stops the run before anything is made. The run's pid is this process's.
  // The numbers a crashed run of this host left in reserve are given back.
  bool Begin(const TracePlace& place, const TraceJob& job, const TraceRun& run,
             std::string& problem);
  std::string Name() const;
  // What the start should say: a trace repaired, numbers of a crashed run given back.
  std::vector<std::string> Notes() const;
  // The next part's number, above floor (the log's). state is the lot as the trace last said.
  NumberTaken TakeNumber(int floor, int& number, LotState& state, std::string& problem);
  // How far the job's lot is.
  bool Lot(LotState& state, std::string& problem);
  // Whether the lot leaves this run nothing to make: complete, or no room while this run
  // holds no number.
  bool LotDone(const LotState& state) const;
  // A number the part did not use after all (untouched, or ALREADY holding this image).
  void GiveBack(int number);
  // One row of the log, committed before it returns.
  bool Record(const PartRecord& row, std::string& problem);
  bool End(int exit, const std::string& how, std::string& problem);
  // Parts of this host's earlier runs that were started and never ended, leaving out the
  // runs of processes that still run (another qs71prog of the station).
  bool Unfinished(std::vector<TracePart>& parts, std::string& problem);
  // Ends the runs those parts are of (kStoppedWithoutEnd), so that the report shows how they
  // ended and this station may judge the parts they left when it meets them again.
  bool EndStopped(const std::vector<TracePart>& parts, std::string& problem);
  // False when the trace's file was deleted or replaced since the run began.
  bool StillInPlace(std::string& problem);
  // "recording locally, 3 events waiting; 1 event the line refused" while a line's trace has
  // not got everything; else "".
  std::string Waiting() const;
  // "waiting for the line's trace: 12 events to send": the reserve is empty.
  std::string WaitingForNumbers() const;
  int Refused() const;
  // Events a line's server has not got yet.
  int Unsent() const;

 private:
  bool TopUp(int floor, int target, std::string& problem);
  bool GiveBackCrashed(std::string& problem);

  std::unique_ptr<TraceStore> store;
  TraceJob job;
  TraceRun run;
  int reserveMinutes = kReserveMinutes;
  std::vector<std::string> notes;
  std::mutex sequence;       // seq
  mutable std::mutex numbers;  // the reserve and what goes with it; held while asking the trace
  int seq = 0;
  std::set<int> reserve;                // numbers held, lowest first
  std::map<int, std::string> grantOf;   // every number this run was granted, by its grant
  std::vector<std::string> grants;      // in the order taken
  LotState lastLot;
  int taken = 0;
  std::chrono::steady_clock::time_point firstTaken{};
};

}  // namespace qs71prog
