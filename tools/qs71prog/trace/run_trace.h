#pragma once
// A production run's side of the trace: which trace it records into, the job and the run,
// every row the CSV log gets (each with its place in the run), and the part numbers, taken
// from the trace so that they are unique per job over every run and station that share it.

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "trace/trace_store.h"

namespace qs71prog {

// Where a run records: --trace's target or the station policy's, the station's own file
// beside a line's server (its spool; empty: the default file), and the CA that the line's
// server must prove itself by (empty: libpq's own choice).
struct TracePlace {
  std::string target;
  std::string spool;
  std::string rootCertificate;
};

// The store for place.target: a postgresql:// (or postgres://) connection string for a line
// of stations, else a SQLite file; an empty target is the station's own file (the spool, else
// the default file), whose folders are made. False with the reason when there is none to use.
bool ChooseTraceStore(const TracePlace& place, std::unique_ptr<TraceStore>& store,
                      std::string& problem);

// Opened, created and brought up to date; refused with the reason otherwise.
bool OpenTrace(const TracePlace& place, std::unique_ptr<TraceStore>& store,
               std::string& problem);

class RunTrace {
 public:
  // The trace is opened, the job and the run recorded, before the first part: a trace that
  // cannot be written stops the run before anything is made.
  bool Begin(const TracePlace& place, const TraceJob& job, const TraceRun& run,
             std::string& problem);
  std::string Name() const;
  // The next part's number, above floor; 0 when every number of the job's lot is taken
  // (state says how far the lot is). False when the trace cannot give one.
  bool TakeNumber(int floor, int& number, NumberGrant& state, std::string& problem);
  // How far the job's lot is.
  bool Lot(NumberGrant& state, std::string& problem);
  // A number the part did not use after all (untouched, or ALREADY holding this image).
  void GiveBack(int number);
  // One row of the log, committed before it returns.
  bool Record(const PartRecord& row, std::string& problem);
  bool End(int exit, const std::string& how, std::string& problem);
  // Parts of this host's earlier runs that were started and never ended, leaving out the
  // runs of processes that still run (another qs71prog of the station).
  bool Unfinished(std::vector<TracePart>& parts, std::string& problem);
  // "recording locally, 3 events waiting" while a line's trace cannot be reached; else "".
  std::string Waiting() const;

 private:
  std::unique_ptr<TraceStore> store;
  TraceJob job;
  TraceRun run;
  std::mutex mutex;  // the sequence and the numbers given back
  int seq = 0;
  std::set<int> spare;
};

}  // namespace qs71prog
