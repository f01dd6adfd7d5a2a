#include "trace/forwarding_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <sstream>

namespace qs71prog {

namespace {

std::string NumbersText(const std::vector<int>& numbers) {
  std::string text;
  for (int number : numbers) text += (text.empty() ? "" : " ") + std::to_string(number);
  return text;
}

std::vector<int> ParseNumbers(const std::string& text) {
  std::vector<int> numbers;
  std::istringstream in(text);
  for (int number = 0; in >> number;) numbers.push_back(number);
  return numbers;
}

std::string Column(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text == nullptr ? "" : reinterpret_cast<const char*>(text);
}

template <typename Item, typename Match>
const Item* Find(const std::vector<Item>& items, Match match) {
  auto found = std::find_if(items.begin(), items.end(), match);
  return found == items.end() ? nullptr : &*found;
}

}  // namespace

ForwardingStore::ForwardingStore(std::unique_ptr<PostgresStore> server,
                                 std::unique_ptr<TraceStore> local, std::string outboxPath)
    : server(std::move(server)), local(std::move(local)), outboxPath(std::move(outboxPath)) {}

ForwardingStore::~ForwardingStore() { sqlite3_close(outbox); }

bool ForwardingStore::OpenOutbox(std::string& problem) {
  if (outbox != nullptr) return true;
  if (sqlite3_open_v2(outboxPath.c_str(), &outbox, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                      nullptr) != SQLITE_OK) {
    problem = "cannot open the station's queue in " + outboxPath + ": " + sqlite3_errmsg(outbox);
    sqlite3_close(outbox);
    outbox = nullptr;
    return false;
  }
  // The station's other processes write the same file: wait for them, as the trace does.
  sqlite3_busy_timeout(outbox, 10000);
  return Outbox("PRAGMA synchronous = FULL", {}, problem) &&
         Outbox("CREATE TABLE IF NOT EXISTS outbox (seq INTEGER PRIMARY KEY AUTOINCREMENT, "
                "kind TEXT NOT NULL, run TEXT NOT NULL, ref TEXT NOT NULL, "
                "numbers TEXT NOT NULL)",
                {}, problem);
}

bool ForwardingStore::Outbox(const char* sql, const std::vector<std::string>& values,
                             std::string& problem) {
  sqlite3_stmt* statement = nullptr;
  int status = sqlite3_prepare_v2(outbox, sql, -1, &statement, nullptr);
  for (size_t i = 0; status == SQLITE_OK && i < values.size(); ++i) {
    status = sqlite3_bind_text(statement, static_cast<int>(i + 1), values[i].c_str(), -1,
                               SQLITE_TRANSIENT);
  }
  if (status == SQLITE_OK) status = sqlite3_step(statement);
  sqlite3_finalize(statement);
  if (status == SQLITE_DONE || status == SQLITE_ROW) return true;
  problem = "the station's queue in " + outboxPath + ": " + sqlite3_errmsg(outbox);
  return false;
}

bool ForwardingStore::Enqueue(Entry& entry, std::string& problem) {
  if (!Outbox("INSERT INTO outbox (kind, run, ref, numbers) VALUES (?1, ?2, ?3, ?4)",
              {entry.kind, entry.run, entry.ref, entry.numbers}, problem)) {
    return false;
  }
  entry.seq = sqlite3_last_insert_rowid(outbox);
  return true;
}

bool ForwardingStore::Dequeue(int64_t seq, std::string& problem) {
  return Outbox("DELETE FROM outbox WHERE seq = ?1", {std::to_string(seq)}, problem);
}

bool ForwardingStore::Queued(std::vector<Entry>& entries, std::string& problem) {
  sqlite3_stmt* statement = nullptr;
  int status = sqlite3_prepare_v2(
      outbox, "SELECT seq, kind, run, ref, numbers FROM outbox ORDER BY seq", -1, &statement,
      nullptr);
  while (status == SQLITE_OK && (status = sqlite3_step(statement)) == SQLITE_ROW) {
    entries.push_back({sqlite3_column_int64(statement, 0), Column(statement, 1),
                       Column(statement, 2), Column(statement, 3), Column(statement, 4)});
    status = SQLITE_OK;
  }
  sqlite3_finalize(statement);
  if (status == SQLITE_DONE) return true;
  problem = "the station's queue in " + outboxPath + ": " + sqlite3_errmsg(outbox);
  return false;
}

void ForwardingStore::Count() {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(outbox, "SELECT count(*) FROM outbox", -1, &statement, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    waiting = sqlite3_column_int(statement, 0);
  }
  sqlite3_finalize(statement);
}

void ForwardingStore::GoOffline() {
  offline = true;
  lastTry = std::chrono::steady_clock::now();
}

void ForwardingStore::TryReconnect() {
  if (!offline || std::chrono::steady_clock::now() - lastTry < kRetry) return;
  std::string ignored;
  if (server->Open(ignored)) {
    offline = false;
  } else {
    GoOffline();
  }
}

ForwardingStore::Sent ForwardingStore::Sending(bool sent) const {
  if (sent) return Sent::kDone;
  return server->Unreachable() ? Sent::kServerGone : Sent::kFailed;
}

// An entry whose row is not in the local trace (a station's file replaced under it) has
// nothing to forward and leaves the queue.
ForwardingStore::Sent ForwardingStore::Forward(const Entry& entry,
                                               std::map<std::string, TraceContents>& runs,
                                               std::string& problem) {
  if (entry.kind == "numbers") {
    return Sending(server->GiveBack(entry.ref, ParseNumbers(entry.numbers), problem));
  }
  if (runs.count(entry.run) == 0) {
    TraceFilter filter;
    filter.run = entry.run;
    if (!local->Load(filter, runs[entry.run], problem)) return runs.erase(entry.run), Sent::kFailed;
  }
  const TraceContents& contents = runs[entry.run];
  if (entry.kind == "event") {
    auto event = Find(contents.events, [&](const TraceEvent& e) { return e.id == entry.ref; });
    return event == nullptr ? Sent::kDone : Sending(server->Record(*event, problem));
  }
  auto run = Find(contents.runs, [&](const TraceRun& r) { return r.id == entry.run; });
  if (run == nullptr) return Sent::kDone;
  if (entry.kind == "end") return Sending(server->EndRun(*run, problem));
  auto job = Find(contents.jobs, [&](const TraceJob& j) { return j.hash == run->job; });
  return job == nullptr ? Sent::kDone : Sending(server->BeginRun(*job, *run, problem));
}

// Everything queued, in order, while the server answers; newest is served by sendNow.
bool ForwardingStore::Flush(int64_t newest, const Step& sendNow, std::string& problem) {
  std::vector<Entry> entries;
  if (offline || !Queued(entries, problem)) return offline;
  std::map<std::string, TraceContents> runs;
  for (const auto& entry : entries) {
    std::string why;
    Sent sent = entry.seq == newest ? Sending(sendNow(why)) : Forward(entry, runs, why);
    if (sent == Sent::kServerGone) return GoOffline(), true;
    // A refusal stays in the queue and stops it: the rows after it may need it.
    if (sent == Sent::kFailed) return problem = why, false;
    if (!Dequeue(entry.seq, problem)) return false;
  }
  return true;
}

bool ForwardingStore::Change(const Entry& entry, const Step& recordLocally, const Step& sendNow,
                             std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  TryReconnect();
  Entry queued = entry;
  bool done = (!recordLocally || recordLocally(problem)) && Enqueue(queued, problem) &&
              Flush(queued.seq, sendNow, problem);
  Count();
  return done;
}

bool ForwardingStore::Read(const Step& fromServer, const Step& fromLocal, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  TryReconnect();
  Count();  // another process of the station may have queued rows
  if (waiting > 0 && !Flush(0, nullptr, problem)) return false;
  Count();
  if (ServerHoldsAll()) {
    if (fromServer(problem)) return true;
    if (!server->Unreachable()) return false;
    GoOffline();
  }
  return fromLocal(problem);
}

bool ForwardingStore::Open(std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!local->Open(problem) || !OpenOutbox(problem)) return false;
  Count();
  std::string why;
  offline = !server->Open(why);
  if (offline && !server->Unreachable()) return problem = why, false;
  if (offline) return GoOffline(), true;
  // What an earlier run of the station left in the queue goes first.
  bool done = Flush(0, nullptr, problem);
  Count();
  return done;
}

bool ForwardingStore::BeginRun(const TraceJob& job, const TraceRun& run, std::string& problem) {
  return Change({0, "begin", run.id, "", ""},
                [&](std::string& why) { return local->BeginRun(job, run, why); },
                [&](std::string& why) { return server->BeginRun(job, run, why); }, problem);
}

bool ForwardingStore::Record(const TraceEvent& event, std::string& problem) {
  return Change({0, "event", event.row.run, event.id, ""},
                [&](std::string& why) { return local->Record(event, why); },
                [&](std::string& why) { return server->Record(event, why); }, problem);
}

bool ForwardingStore::EndRun(const TraceRun& run, std::string& problem) {
  if (!Change({0, "end", run.id, "", ""},
              [&](std::string& why) { return local->EndRun(run, why); },
              [&](std::string& why) { return server->EndRun(run, why); }, problem)) {
    return false;
  }
  std::vector<int> unused;
  {
    std::lock_guard<std::mutex> lock(mutex);
    unused.swap(reserve[run.job]);
  }
  // The reserve goes back through the queue: a server that is away gets it when it returns.
  if (unused.empty()) return true;
  return Change({0, "numbers", run.id, run.job, NumbersText(unused)}, nullptr,
                [&](std::string& why) { return server->GiveBack(run.job, unused, why); },
                problem);
}

bool ForwardingStore::GiveBack(const std::string& job, const std::vector<int>& numbers,
                               std::string&) {
  // Numbers given back stay with the station until its run ends: one that is cut off may
  // need them.
  std::lock_guard<std::mutex> lock(mutex);
  auto& pool = reserve[job];
  pool.insert(pool.end(), numbers.begin(), numbers.end());
  std::sort(pool.begin(), pool.end());
  pool.erase(std::unique(pool.begin(), pool.end()), pool.end());
  return true;
}

void ForwardingStore::GrantFromReserve(const std::string& job, int want, NumberGrant& grant) {
  auto& pool = reserve[job];
  grant = lastGrant[job];
  grant.numbers.clear();
  size_t count = std::min(pool.size(), static_cast<size_t>(std::max(want, 0)));
  grant.numbers.assign(pool.begin(), pool.begin() + static_cast<std::ptrdiff_t>(count));
  pool.erase(pool.begin(), pool.begin() + static_cast<std::ptrdiff_t>(count));
}

bool ForwardingStore::TakeNumbers(const std::string& job, int want, int floor, NumberGrant& grant,
                                  std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  TryReconnect();
  // The job must be on the server before it grants numbers of it.
  if (waiting > 0 && !Flush(0, nullptr, problem)) return false;
  Count();
  auto& pool = reserve[job];
  int missing = want - static_cast<int>(pool.size());
  if (missing > 0 && !offline) {
    NumberGrant taken;
    std::string why;
    if (server->TakeNumbers(job, std::max(missing, kReserve), floor, taken, why)) {
      pool.insert(pool.end(), taken.numbers.begin(), taken.numbers.end());
      std::sort(pool.begin(), pool.end());
      lastGrant[job] = taken;
    } else if (server->Unreachable()) {
      GoOffline();
    } else {
      return problem = why, false;
    }
  }
  if (pool.empty() && offline) {
    problem = "the trace server " + Name() +
              " does not answer and this station has no part numbers left in reserve";
    return false;
  }
  GrantFromReserve(job, want, grant);
  return true;
}

bool ForwardingStore::Lot(const std::string& job, NumberGrant& state, std::string& problem) {
  if (!Read([&](std::string& why) { return server->Lot(job, state, why); },
            [&](std::string& why) { return local->Lot(job, state, why); }, problem)) {
    return false;
  }
  // Numbers this station holds in reserve are the lot's too: it is not done while it has any.
  std::lock_guard<std::mutex> lock(mutex);
  state.exhausted = state.exhausted && reserve[job].empty();
  return true;
}

bool ForwardingStore::Unfinished(const std::string& host, const std::string& run,
                                 std::vector<TracePart>& parts, std::string& problem) {
  return Read([&](std::string& why) { return server->Unfinished(host, run, parts, why); },
              [&](std::string& why) { return local->Unfinished(host, run, parts, why); },
              problem);
}

bool ForwardingStore::Load(const TraceFilter& filter, TraceContents& contents,
                           std::string& problem) {
  return Read([&](std::string& why) { return server->Load(filter, contents, why); },
              [&](std::string& why) { return local->Load(filter, contents, why); }, problem);
}

std::string ForwardingStore::Backlog() const {
  const int count = waiting;
  const std::string events = std::to_string(count) + (count == 1 ? " event" : " events");
  if (offline) return "trace server " + Name() + " not answering: recording locally, " + events + " waiting";
  return count == 0 ? "" : events + " waiting for the trace server";
}

}  // namespace qs71prog
