#include "trace/forwarding_store.h"

#include <algorithm>

#include "trace/trace_rows.h"

namespace qs71prog {

namespace {

template <typename Item, typename Match>
const Item* Find(const std::vector<Item>& items, Match match) {
  auto found = std::find_if(items.begin(), items.end(), match);
  return found == items.end() ? nullptr : &*found;
}

std::string Events(int count) {
  return std::to_string(count) + (count == 1 ? " event" : " events");
}

std::string Now() { return UtcTimestamp(std::chrono::system_clock::now()); }

}  // namespace

ForwardingStore::ForwardingStore(std::unique_ptr<PostgresStore> server,
                                 std::unique_ptr<SqliteStore> local)
    : server(std::move(server)), local(std::move(local)) {
  this->server->CommitWithoutWaiting();
}

bool ForwardingStore::ConfirmDue() const {
  return !unconfirmed.empty() &&
         (unconfirmed.size() >= kConfirmEvery ||
          std::chrono::steady_clock::now() - firstUnconfirmed >= kConfirmAfter);
}

void ForwardingStore::Took(int64_t seq, bool durable) {
  --waiting;
  if (!durable) {
    if (unconfirmed.empty()) firstUnconfirmed = std::chrono::steady_clock::now();
    unconfirmed.push_back(seq);
    return;
  }
  Confirmed();
  sent.push_back(seq);
}

void ForwardingStore::Confirmed() {
  sent.insert(sent.end(), unconfirmed.begin(), unconfirmed.end());
  unconfirmed.clear();
}

bool ForwardingStore::Local(const LocalStep& step, std::string& problem) {
  int queued = 0;
  int setAside = 0;
  const bool done = local->Transaction(
      [&](TraceSql& sql, std::string& why) {
        return Dequeue(sql, sent, why) && step(sql, why) &&
               SpoolCounts(sql, queued, setAside, why);
      },
      problem);
  if (!done) return false;
  sent.clear();
  waiting = queued - static_cast<int>(unconfirmed.size());
  refused = setAside;
  return true;
}

bool ForwardingStore::SettleSent(std::string& problem) {
  return sent.empty() || Recount(problem);
}

bool ForwardingStore::Recount(std::string& problem) {
  return Local([](TraceSql&, std::string&) { return true; }, problem);
}

// What was sent and not confirmed goes again once the server is back: it may be what a
// server that crashed lost.
void ForwardingStore::GoOffline() {
  waiting += static_cast<int>(unconfirmed.size());
  unconfirmed.clear();
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

ForwardingStore::Sent ForwardingStore::Sending(bool done) const {
  if (done) return Sent::kDone;
  return server->Unreachable() ? Sent::kServerGone : Sent::kRefused;
}

// An entry whose row is not in the local trace (a station's file replaced under it) has
// nothing to forward and leaves the queue.
ForwardingStore::Sent ForwardingStore::Forward(const SpoolEntry& entry,
                                               std::map<std::string, TraceContents>& runs,
                                               std::string& problem) {
  if (entry.kind == "numbers") {
    return Sending(server->GiveBack(entry.ref, entry.grant, NumbersOf(entry.numbers), problem));
  }
  if (runs.count(entry.run) == 0) {
    TraceFilter filter;
    filter.run = entry.run;
    if (!local->Load(filter, runs[entry.run], problem)) {
      runs.erase(entry.run);
      return Sent::kLocalFailed;
    }
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

bool ForwardingStore::Refuse(const SpoolEntry& entry, const std::string& reason,
                             std::string& problem) {
  return Local([&](TraceSql& sql, std::string& why) { return SetAside(sql, entry, reason, why); },
               problem);
}

bool ForwardingStore::Flush(const SpoolEntry& newest, const Step& sendNow,
                            std::string& problem) {
  if (offline) return true;
  std::vector<SpoolEntry> entries;
  if (newest.seq != 0 && waiting == 1) {
    entries.push_back(newest);  // only the one just queued
  } else if (!Local([&](TraceSql& sql, std::string& why) { return Queued(sql, entries, why); },
                    problem)) {
    return false;
  }
  std::map<std::string, TraceContents> runs;
  for (const SpoolEntry& entry : entries) {
    if (std::find(unconfirmed.begin(), unconfirmed.end(), entry.seq) != unconfirmed.end()) {
      continue;  // on the server already
    }
    std::string why;
    const bool durable = ConfirmDue() || entry.kind == "end" || entry.kind == "numbers";
    if (durable) server->NextDurable();
    const Sent result =
        entry.seq == newest.seq ? Sending(sendNow(why)) : Forward(entry, runs, why);
    if (result == Sent::kServerGone) return GoOffline(), true;
    if (result == Sent::kLocalFailed) return problem = why, false;
    // A refusal is set aside with the server's words: the rows behind it go on.
    if (result == Sent::kRefused && !Refuse(entry, why, problem)) return false;
    if (result == Sent::kDone) Took(entry.seq, durable);
  }
  return true;
}

bool ForwardingStore::Change(SpoolEntry entry, const LocalStep& recordLocally,
                             const Step& sendNow, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  TryReconnect();
  return Local(
             [&](TraceSql& sql, std::string& why) {
               return (!recordLocally || recordLocally(sql, why)) && Enqueue(sql, entry, why);
             },
             problem) &&
         Flush(entry, sendNow, problem);
}

bool ForwardingStore::Open(std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!local->Open(problem) ||
      !Local([](TraceSql& sql, std::string& why) { return PrepareSpool(sql, why); }, problem)) {
    return false;
  }
  std::string why;
  offline = !server->Open(why);
  if (offline && !server->Unreachable()) return problem = why, false;
  if (offline) return GoOffline(), true;
  // What an earlier run of the station left in the queue goes first.
  return FlushAll(problem);
}

bool ForwardingStore::OpenToRead(std::string& problem) { return server->OpenToRead(problem); }

std::vector<std::string> ForwardingStore::Notes() const {
  std::vector<std::string> notes = local->Notes();
  for (const std::string& note : server->Notes()) notes.push_back(note);
  return notes;
}

bool ForwardingStore::BeginRun(const TraceJob& job, const TraceRun& run, std::string& problem) {
  return Change({0, "begin", run.id, "", "", "", "", ""},
                [&](TraceSql& sql, std::string& why) { return local->BeginRunIn(sql, job, run, why); },
                [&](std::string& why) { return server->BeginRun(job, run, why); }, problem);
}

bool ForwardingStore::Record(const TraceEvent& event, std::string& problem) {
  return Change({0, "event", event.row.run, event.id, "", "", "", ""},
                [&](TraceSql& sql, std::string& why) { return local->RecordIn(sql, event, why); },
                [&](std::string& why) { return server->Record(event, why); }, problem);
}

bool ForwardingStore::EndRun(const TraceRun& run, std::string& problem) {
  {
    // The run's last word waits for no retry's pause: a server that answers again gets the
    // whole queue now, not at the station's next run.
    std::lock_guard<std::mutex> lock(mutex);
    lastTry = {};
  }
  if (!Change({0, "end", run.id, "", "", "", "", ""},
              [&](TraceSql& sql, std::string& why) { return local->EndRunIn(sql, run, why); },
              [&](std::string& why) { return server->EndRun(run, why); }, problem)) {
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex);
  return SettleSent(problem);
}

// Through the queue: a server that is away gets the numbers when it returns.
bool ForwardingStore::GiveBack(const std::string& job, const std::string& grant,
                               const std::vector<int>& numbers, std::string& problem) {
  return Change({0, "numbers", "", job, NumbersText(numbers), grant, "", ""},
                [&](TraceSql& sql, std::string& why) {
                  return local->GiveBackIn(sql, job, grant, numbers, why);
                },
                [&](std::string& why) { return server->GiveBack(job, grant, numbers, why); },
                problem);
}

bool ForwardingStore::TakeNumbers(const std::string& job, const std::string& run, int want,
                                  int floor, NumberGrant& grant, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  TryReconnect();
  // The job and the run must be on the server before it grants numbers of them.
  if (waiting > 0 && !FlushAll(problem)) return false;
  if (!offline) server->NextDurable();  // a grant never lost: nor the entries before it
  if (!offline && server->TakeNumbers(job, run, want, floor, grant, problem)) {
    Confirmed();
    LotState known = grant.lot;
    known.since = Now();
    lastLot[job] = known;
    return Local([&](TraceSql& sql, std::string& why) {
      return local->AdoptGrantIn(sql, job, run, grant, why);
    }, problem);
  }
  // Away already, the next attempt stays where TryReconnect put it.
  if (!offline && server->Unreachable()) GoOffline();
  if (offline) problem = "the trace server " + Name() + " does not answer";
  return false;
}

bool ForwardingStore::Lot(const std::string& job, LotState& state, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  TryReconnect();
  if (!Recount(problem) || (waiting > 0 && (!FlushAll(problem) || !SettleSent(problem)))) {
    return false;
  }
  if (ServerHoldsAll()) {
    if (server->Lot(job, state, problem)) {
      LotState known = state;
      known.since = Now();
      lastLot[job] = known;
      return true;
    }
    if (!server->Unreachable()) return false;
    GoOffline();
  }
  const auto known = lastLot.find(job);
  if (known != lastLot.end()) return state = known->second, true;
  if (!local->Lot(job, state, problem)) return false;
  state.stationOnly = true;
  return true;
}

bool ForwardingStore::Unfinished(const std::string& host, const std::string& run,
                                 std::vector<TracePart>& parts, std::vector<long>& pids,
                                 std::string& problem) {
  return local->Unfinished(host, run, parts, pids, problem);
}

bool ForwardingStore::OpenGrants(const std::string& host, const std::string& run,
                                 std::vector<OpenGrant>& grants, std::string& problem) {
  return local->OpenGrants(host, run, grants, problem);
}

bool ForwardingStore::Load(const TraceFilter& filter, TraceContents& contents,
                           std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  TryReconnect();
  if (!Recount(problem) || (waiting > 0 && (!FlushAll(problem) || !SettleSent(problem)))) {
    return false;
  }
  if (ServerHoldsAll()) {
    if (server->Load(filter, contents, problem)) return true;
    if (!server->Unreachable()) return false;
    GoOffline();
  }
  return local->Load(filter, contents, problem);
}

bool ForwardingStore::ClearRefused(std::vector<ClearedEntry>& cleared, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  std::vector<SpoolEntry> entries;
  if (!Local([&](TraceSql& sql, std::string& why) { return RefusedEntries(sql, entries, why); },
             problem)) {
    return false;
  }
  std::map<std::string, TraceContents> runs;
  for (const SpoolEntry& entry : entries) {
    std::string why;
    if (!offline) server->NextDurable();
    const Sent result = offline ? Sent::kServerGone : Forward(entry, runs, why);
    if (result == Sent::kLocalFailed) return problem = why, false;
    if (result == Sent::kServerGone) {
      GoOffline();
      problem = "the trace server " + Name() + " does not answer: the events it refused stay " +
                "set aside in " + local->Name();
      return false;
    }
    const bool now = result == Sent::kDone;
    if (!Local([&](TraceSql& sql, std::string& failed) {
          return now ? ForgetRefused(sql, entry.seq, failed)
                     : qs71prog::ClearRefused(sql, entry.seq, why, failed);
        }, problem)) {
      return false;
    }
    cleared.push_back({entry, now});
    if (!now) cleared.back().entry.reason = why;
  }
  return true;
}

std::string ForwardingStore::Backlog() const {
  const int count = waiting;
  const int set = refused;
  std::string text;
  if (offline) {
    text = "trace server " + Name() + " not answering: recording locally, " + Events(count) +
           " waiting";
  } else if (count > 0) {
    text = Events(count) + " waiting for the trace server";
  }
  if (set > 0) text += (text.empty() ? "" : "; ") + Events(set) + " the line refused";
  return text;
}

}  // namespace qs71prog
