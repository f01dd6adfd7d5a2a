#include "trace/run_trace.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "job_file/key_places.h"
#include "platform/host_system.h"
#include "text_format.h"
#include "trace/connection_password.h"
#include "trace/line_trace.h"
#include "trace/random_id.h"
#include "trace/shift_figures.h"
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

bool NoDefaultFile(std::string& problem) {
  problem = "no folder for the station's trace (neither XDG_STATE_HOME nor HOME is set): "
            "name one with --trace FILE";
  return false;
}

// Another run of this host that still runs: not this process, whose pid a run before it may
// have had (a container's process 2 started again), and a process that is there now.
bool StillRunning(long pid) { return pid > 0 && pid != ProcessId() && ProcessRunning(pid); }

std::string Numbers(size_t count) {
  return std::to_string(count) + (count == 1 ? " part number" : " part numbers");
}

}  // namespace

std::string RefusedText(int count) {
  return std::to_string(count) + (count == 1 ? " event" : " events") + " the line refused";
}

std::string SpoolFile(const TracePlace& place) {
  return place.spool.empty() ? DefaultTraceFile() : place.spool;
}

std::string RecordFile(const TracePlace& place) {
  return IsConnectionString(place.target) || place.target.empty() ? SpoolFile(place) : place.target;
}

bool ChooseTraceStore(const TracePlace& place, std::unique_ptr<TraceStore>& store,
                      std::string& problem) {
  const bool server = IsConnectionString(place.target);
  const std::string file = RecordFile(place);
  if (file.empty()) return NoDefaultFile(problem);
  if ((server || place.target.empty()) && !MakeFolders(file, problem)) return false;
  if (server) return LineTraceStore(place.target, file, place.rootCertificate, store, problem);
  store = std::make_unique<SqliteStore>(file);
  return true;
}

bool OpenTraceToRead(const TracePlace& place, std::unique_ptr<TraceStore>& store,
                     std::string& problem) {
  if (IsConnectionString(place.target)) {
    return LineTraceReader(place.target, place.rootCertificate, store, problem) && store->OpenToRead(problem);
  }
  const std::string file = place.target.empty() ? SpoolFile(place) : place.target;
  if (file.empty()) return NoDefaultFile(problem);
  store = std::make_unique<SqliteStore>(file);
  return store->OpenToRead(problem);
}

int ReserveTarget(int taken, double running, int minutes) {
  const double perMinute = taken / std::max(running, kLeastRateMinutes);
  const double wanted = std::ceil(perMinute * std::max(minutes, 0));
  return wanted > kLeastReserve ? static_cast<int>(std::min(wanted, 1e6)) : kLeastReserve;
}

std::string LotLine(const LotState& state) {
  if (!state.Limited()) return "";
  std::string text = Format("lot %d: %d good, %d scrap, %d to go", state.lot, state.good,
                            state.scrap, state.ToGo());
  double seconds = 0.0;
  if (state.stationOnly) return text + ", as this station counts: the line's trace has not answered";
  if (state.since.empty() || !ParseUtc(state.since, seconds)) return text;
  const std::tm local = LocalCalendar(static_cast<std::time_t>(seconds));
  return text + Format(", as the line's trace said at %02d:%02d:%02d", local.tm_hour, local.tm_min,
                       local.tm_sec);
}

std::string LotEndText(const LotState& state) {
  const std::string lot = "the lot of " + std::to_string(state.lot) + " parts is complete";
  if (state.Complete()) {
    return Format("%s: %d good, %d scrap; the run ends", lot.c_str(), state.good, state.scrap);
  }
  return Format("%s or under way: %d good, %d under way; the run ends", lot.c_str(), state.good,
                state.ToGo());
}

bool RunTrace::Begin(const TracePlace& place, const TraceJob& traced,
                     const TraceRun& started, std::string& problem) {
  job = traced;
  run = started;
  run.pid = ProcessId();
  reserveMinutes = place.reserveMinutes;
  if (!ChooseTraceStore(place, store, problem) || !store->Open(problem) ||
      !store->BeginRun(job, run, problem)) {
    return false;
  }
  notes = store->Notes();
  return GiveBackCrashed(problem);
}

// A run killed (kill -9, a power cut) never gave its reserve back: without this its numbers
// would stay granted, and counted as under way in the lot, for good.
bool RunTrace::GiveBackCrashed(std::string& problem) {
  std::vector<OpenGrant> open;
  if (!store->OpenGrants(run.host, run.id, open, problem)) return false;
  std::map<std::string, size_t> givenBack;  // by run
  for (const OpenGrant& grant : open) {
    if (grant.unused.empty() || (!grant.runEnded && StillRunning(grant.pid))) continue;
    if (!store->GiveBack(grant.job, grant.id, grant.unused, problem)) return false;
    givenBack[grant.run] += grant.unused.size();
  }
  for (const auto& [crashed, count] : givenBack) {
    notes.push_back("the " + Numbers(count) + " that run " + crashed + " held in reserve went " +
                    "back to the trace: the run stopped without giving them back");
  }
  return true;
}

std::string RunTrace::Name() const { return store == nullptr ? "" : store->Name(); }

std::vector<std::string> RunTrace::Notes() const { return notes; }

bool RunTrace::TopUp(int floor, int target, std::string& problem) {
  NumberGrant grant;
  grant.id = RandomUuid();
  const int want = target - static_cast<int>(reserve.size());
  if (want <= 0) return true;
  if (!store->TakeNumbers(job.hash, run.id, want, floor, grant, problem)) return false;
  lastLot = grant.lot;
  for (const int number : grant.numbers) {
    reserve.insert(number);
    grantOf[number] = grant.id;
  }
  if (!grant.numbers.empty()) grants.push_back(grant.id);
  return true;
}

NumberTaken RunTrace::TakeNumber(int floor, int& number, LotState& state, std::string& problem) {
  std::lock_guard<std::mutex> lock(numbers);
  const auto now = std::chrono::steady_clock::now();
  const double running =
      taken == 0 ? 0.0 : std::chrono::duration<double>(now - firstTaken).count() / 60.0;
  const int target = ReserveTarget(taken, running, reserveMinutes);
  // Topped up at half the reserve, so that a line's server is asked now and then, not at every
  // part; a server away leaves the reserve as it is.
  if (reserve.empty() || 2 * static_cast<int>(reserve.size()) <= target) {
    if (!TopUp(floor, target, problem) && !store->Away()) return NumberTaken::kFailed;
  }
  state = lastLot;
  if (reserve.empty()) return store->Away() ? NumberTaken::kWaiting : NumberTaken::kLotDone;
  number = *reserve.begin();
  reserve.erase(reserve.begin());
  if (taken++ == 0) firstTaken = now;
  return NumberTaken::kTaken;
}

bool RunTrace::Lot(LotState& state, std::string& problem) {
  if (!store->Lot(job.hash, state, problem)) return false;
  std::lock_guard<std::mutex> lock(numbers);
  lastLot = state;
  return true;
}

bool RunTrace::LotDone(const LotState& state) const {
  if (state.Complete()) return true;
  std::lock_guard<std::mutex> lock(numbers);
  return state.Limited() && state.Room() == 0 && reserve.empty() && !store->Away();
}

void RunTrace::GiveBack(int number) {
  std::lock_guard<std::mutex> lock(numbers);
  if (grantOf.count(number) > 0) reserve.insert(number);
}

bool RunTrace::Record(const PartRecord& row, std::string& problem) {
  TraceEvent event;
  {
    std::lock_guard<std::mutex> lock(sequence);
    event.seq = ++seq;
  }
  event.id = run.id + "/" + std::to_string(event.seq);
  event.job = job.hash;
  event.row = row;
  return store->Record(event, problem);
}

bool RunTrace::End(int exit, const std::string& how, std::string& problem) {
  std::map<std::string, std::vector<int>> unused;
  {
    std::lock_guard<std::mutex> lock(numbers);
    for (const int number : reserve) unused[grantOf[number]].push_back(number);
    reserve.clear();
  }
  for (const std::string& grant : grants) {
    const auto left = unused.find(grant);
    if (left != unused.end() && !store->GiveBack(job.hash, grant, left->second, problem)) {
      return false;
    }
  }
  run.endedAt = UtcTimestamp(std::chrono::system_clock::now());
  run.exit = exit;
  run.how = how;
  return store->EndRun(run, problem);
}

bool RunTrace::EndStopped(const std::vector<TracePart>& parts, std::string& problem) {
  std::set<std::string> stopped;
  for (const TracePart& part : parts) {
    if (!stopped.insert(part.run).second) continue;
    TraceRun ended;
    ended.id = part.run;
    ended.endedAt = UtcTimestamp(std::chrono::system_clock::now());
    ended.exit = -1;
    ended.how = kStoppedWithoutEnd;
    if (!store->EndRun(ended, problem)) return false;
  }
  return true;
}

bool RunTrace::Unfinished(std::vector<TracePart>& parts, std::string& problem) {
  std::vector<TracePart> found;
  std::vector<long> pids;
  if (!store->Unfinished(run.host, run.id, found, pids, problem)) return false;
  parts.clear();
  for (size_t index = 0; index < found.size(); ++index) {
    if (!StillRunning(pids[index])) parts.push_back(found[index]);
  }
  return true;
}

bool RunTrace::StillInPlace(std::string& problem) {
  return store == nullptr || store->StillInPlace(problem);
}

std::string RunTrace::Waiting() const { return store == nullptr ? "" : store->Backlog(); }

std::string RunTrace::WaitingForNumbers() const {
  const int count = store == nullptr ? 0 : store->Waiting();
  return "waiting for the line's trace: " + std::to_string(count) +
         (count == 1 ? " event" : " events") + " to send";
}

int RunTrace::Refused() const { return store == nullptr ? 0 : store->Refused(); }

int RunTrace::Unsent() const { return store == nullptr ? 0 : store->Waiting(); }

}  // namespace qs71prog
