#pragma once
// A station on a line: the line's trace on the server, and the station's own trace beside it,
// which records every call too and keeps the spool (trace/station_spool.h): the queue of what
// the server has not got yet, and what it refused. Each change is recorded locally and queued
// in one local transaction, then sent; its removal from the queue goes with the next local
// transaction, so that an event costs one synced local transaction. The server's commits of
// events do not wait for its disk: an entry sent stays in the queue until a commit that does
// wait (every kConfirmEvery entries or kConfirmAfter, a grant, a give-back, a run's end) has
// put it on the server's disk with everything before it, so a server that crashes gets what
// it lost again, and a station that crashes sends it again at its next start. A
// server that does not answer stops nothing: changes are recorded and queued, and once it
// answers again the queue goes to it in order. Every forwarded row carries its key, so a
// forward repeated (after a lost answer, or a crash before the removal) adds nothing. A row
// the server refuses is set aside with its reason and never holds up the rows behind it.
//
// Part numbers come from the server alone, so that no two stations share one, and each grant
// is recorded in the station's own trace too, so that a crash's reserve can be given back at
// the next start.

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "trace/postgres_store.h"
#include "trace/sqlite_store.h"
#include "trace/station_spool.h"
#include "trace/trace_store.h"

namespace qs71prog {

class ForwardingStore : public TraceStore {
 public:
  // How long a station waits between attempts to reach a server that stopped answering.
  static constexpr std::chrono::seconds kRetry{2};
  // How many entries, or how long, a station lets wait for a commit on the server's disk.
  static constexpr size_t kConfirmEvery = 16;
  static constexpr std::chrono::seconds kConfirmAfter{5};

  // local: the station's own trace, whose file also keeps the spool.
  ForwardingStore(std::unique_ptr<PostgresStore> server, std::unique_ptr<SqliteStore> local);
  ForwardingStore(const ForwardingStore&) = delete;
  ForwardingStore& operator=(const ForwardingStore&) = delete;

  std::string Name() const override { return server->Name(); }
  // Refused when the local trace cannot be opened, or the server answers and refuses; a
  // server that does not answer leaves the station recording locally.
  bool Open(std::string& problem) override;
  // The server's alone: what a station recorded locally is not the line's trace.
  bool OpenToRead(std::string& problem) override;
  std::vector<std::string> Notes() const override;
  bool BeginRun(const TraceJob& job, const TraceRun& run, std::string& problem) override;
  // From the server only; false, with Away() true, while it does not answer.
  bool TakeNumbers(const std::string& job, const std::string& run, int want, int floor,
                   NumberGrant& grant, std::string& problem) override;
  bool GiveBack(const std::string& job, const std::string& grant, const std::vector<int>& numbers,
                std::string& problem) override;
  bool Record(const TraceEvent& event, std::string& problem) override;
  bool EndRun(const TraceRun& run, std::string& problem) override;
  // The server's figures while it answers and holds everything; otherwise the last it gave,
  // with since, or the station's own figures when it never gave any.
  bool Lot(const std::string& job, LotState& state, std::string& problem) override;
  // The station's own runs: its own trace knows them.
  bool Unfinished(const std::string& host, const std::string& run, std::vector<TracePart>& parts,
                  std::vector<long>& pids, std::string& problem) override;
  bool OpenGrants(const std::string& host, const std::string& run, std::vector<OpenGrant>& grants,
                  std::string& problem) override;
  // From the server while it answers and holds everything; otherwise from the station's own.
  bool Load(const TraceFilter& filter, TraceContents& contents, std::string& problem) override;
  bool StillInPlace(std::string& problem) override { return local->StillInPlace(problem); }
  bool Away() const override { return offline; }
  int Waiting() const override { return waiting; }
  int Refused() const override { return refused; }
  std::string Backlog() const override;

  // --clear-refused: each refused entry is sent again; what the server takes now leaves the
  // spool, the rest is kept there, cleared, with the server's latest reason. False when the
  // spool cannot be read or the server does not answer.
  bool ClearRefused(std::vector<ClearedEntry>& cleared, std::string& problem);

 private:
  // kLocalFailed: the station's own file could not be read for the entry's row.
  enum class Sent { kDone, kServerGone, kRefused, kLocalFailed };
  using Step = std::function<bool(std::string&)>;
  using LocalStep = std::function<bool(TraceSql&, std::string&)>;
  // The pattern of every change: recorded locally and queued in one transaction, then the
  // queue forwarded; sendNow serves the entry just queued without reading it back.
  bool Change(SpoolEntry entry, const LocalStep& recordLocally, const Step& sendNow,
              std::string& problem);
  // Everything queued, in order, while the server answers; the entry newest by sendNow.
  bool Flush(const SpoolEntry& newest, const Step& sendNow, std::string& problem);
  bool FlushAll(std::string& problem) { return Flush(SpoolEntry(), nullptr, problem); }
  Sent Forward(const SpoolEntry& entry, std::map<std::string, TraceContents>& runs,
               std::string& problem);
  Sent Sending(bool sent) const;
  bool Refuse(const SpoolEntry& entry, const std::string& reason, std::string& problem);
  // The removals of what was sent, in a transaction of their own (at a run's end).
  bool SettleSent(std::string& problem);
  // The queue counted again: another process of the station may have queued rows.
  bool Recount(std::string& problem);
  // Whether the next entry sent is to be on the server's disk, vouching for those before it;
  // Sent: what becomes of an entry the server took.
  bool ConfirmDue() const;
  void Took(int64_t seq, bool durable);
  // A commit on the server's disk: everything sent before it is there too.
  void Confirmed();
  bool Local(const LocalStep& step, std::string& problem);
  void GoOffline();
  void TryReconnect();
  bool ServerHoldsAll() const { return !offline && waiting == 0; }

  std::unique_ptr<PostgresStore> server;
  std::unique_ptr<SqliteStore> local;
  std::vector<int64_t> sent;  // on the server's disk, to leave the queue with the next local transaction
  std::vector<int64_t> unconfirmed;  // sent, not known to be on the server's disk yet
  std::chrono::steady_clock::time_point firstUnconfirmed{};
  std::atomic<int> waiting{0};
  std::atomic<int> refused{0};
  std::atomic<bool> offline{true};
  std::chrono::steady_clock::time_point lastTry{};
  std::map<std::string, LotState> lastLot;  // the server's last word on each job's lot
  std::mutex mutex;  // one call at a time: the queue's order is the calls' order
};

}  // namespace qs71prog
