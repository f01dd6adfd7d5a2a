#include "trace/run_trace.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "job_file/key_places.h"
#include "platform/host_system.h"
#include "trace/connection_password.h"
#include "trace/line_trace.h"
#include "trace/sqlite_store.h"

namespace qs71prog {

namespace {

// The folders of the station's default trace; the user's state folder may not exist yet.
bool MakeFolders(const std::string& file, std::string& problem) {
  const std::filesystem::path folder = std::filesystem::path(file).parent_path();
  std::error_code error;
  if (folder.empty() || std::filesystem::is_directory(folder, error)) return true;
  std::filesystem::create_directories(folder, error);
  if (!error) return true;
  problem = "cannot make the trace's folder " + folder.string() + ": " + error.message();
  return false;
}

}  // namespace

bool ChooseTraceStore(const TracePlace& place, std::unique_ptr<TraceStore>& store,
                      std::string& problem) {
  const bool server = IsConnectionString(place.target);
  std::string file = server ? "" : place.target;
  if (file.empty()) {
    file = place.spool.empty() ? DefaultTraceFile() : place.spool;
    if (file.empty()) {
      problem = "no folder for the station's trace (neither XDG_STATE_HOME nor HOME is set): "
                "name one with --trace FILE";
      return false;
    }
    if (!MakeFolders(file, problem)) return false;
  }
  if (server) return LineTraceStore(place.target, file, place.rootCertificate, store, problem);
  store = std::make_unique<SqliteStore>(file);
  return true;
}

bool OpenTrace(const TracePlace& place, std::unique_ptr<TraceStore>& store,
               std::string& problem) {
  return ChooseTraceStore(place, store, problem) && store->Open(problem);
}

bool RunTrace::Begin(const TracePlace& place, const TraceJob& traced, const TraceRun& started,
                     std::string& problem) {
  job = traced;
  run = started;
  return OpenTrace(place, store, problem) && store->BeginRun(job, run, problem);
}

std::string RunTrace::Name() const { return store == nullptr ? "" : store->Name(); }

bool RunTrace::TakeNumber(int floor, int& number, NumberGrant& state, std::string& problem) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!spare.empty()) {
      number = *spare.begin();
      spare.erase(spare.begin());
      return store->Lot(job.hash, state, problem);
    }
  }
  if (!store->TakeNumbers(job.hash, 1, floor, state, problem)) return false;
  number = state.numbers.empty() ? 0 : state.numbers.front();
  return true;
}

bool RunTrace::Lot(NumberGrant& state, std::string& problem) {
  if (!store->Lot(job.hash, state, problem)) return false;
  std::lock_guard<std::mutex> lock(mutex);
  state.exhausted = state.exhausted && spare.empty();
  return true;
}

void RunTrace::GiveBack(int number) {
  if (number <= 0) return;
  std::lock_guard<std::mutex> lock(mutex);
  spare.insert(number);
}

bool RunTrace::Record(const PartRecord& row, std::string& problem) {
  TraceEvent event;
  {
    std::lock_guard<std::mutex> lock(mutex);
    event.seq = ++seq;
  }
  event.id = run.id + "/" + std::to_string(event.seq);
  event.job = job.hash;
  event.row = row;
  return store->Record(event, problem);
}

bool RunTrace::End(int exit, const std::string& how, std::string& problem) {
  std::vector<int> unused;
  {
    std::lock_guard<std::mutex> lock(mutex);
    unused.assign(spare.begin(), spare.end());
    spare.clear();
  }
  run.endedAt = UtcTimestamp(std::chrono::system_clock::now());
  run.exit = exit;
  run.how = how;
  return store->GiveBack(job.hash, unused, problem) && store->EndRun(run, problem);
}

bool RunTrace::Unfinished(std::vector<TracePart>& parts, std::string& problem) {
  std::vector<TracePart> found;
  if (!store->Unfinished(run.host, run.id, found, problem)) return false;
  parts.clear();
  for (const TracePart& part : found) {
    // A run's ID ends with its process's: "20261207T194000Z-4711".
    const size_t dash = part.run.rfind('-');
    const long pid = dash == std::string::npos ? 0 : std::atol(part.run.c_str() + dash + 1);
    if (!ProcessRunning(pid)) parts.push_back(part);
  }
  return true;
}

std::string RunTrace::Waiting() const { return store == nullptr ? "" : store->Backlog(); }

}  // namespace qs71prog
