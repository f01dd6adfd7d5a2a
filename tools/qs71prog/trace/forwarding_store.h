#pragma once
// A station on a line: the line's trace on the server, and the station's own trace beside it,
// which records every call too and keeps the queue of what the server has not got yet (the
// table outbox of its file: the station's alone, never part of the shared schema). A server
// that does not answer stops nothing: calls are recorded locally and queued, and once it
// answers again the queue goes to it in order. Every forwarded row carries its id, so a
// forward repeated after a lost answer adds nothing.
//
// Part numbers come from the server alone, so that no two stations share one. While the
// server answers, the station takes a few more than it needs and keeps them in reserve; cut
// off, it goes on from the reserve, and stops when it is empty. Numbers still in reserve at
// the run's end go back to the server.

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "trace/postgres_store.h"
#include "trace/trace_store.h"

struct sqlite3;

namespace qs71prog {

class ForwardingStore : public TraceStore {
 public:
  // How many numbers a station asks for at least, and how long it waits between attempts to
  // reach a server that stopped answering.
  static constexpr int kReserve = 4;
  static constexpr std::chrono::seconds kRetry{2};

  // outboxPath: the SQLite file of the local trace, where the queue is kept.
  ForwardingStore(std::unique_ptr<PostgresStore> server, std::unique_ptr<TraceStore> local,
                  std::string outboxPath);
  ~ForwardingStore() override;
  ForwardingStore(const ForwardingStore&) = delete;
  ForwardingStore& operator=(const ForwardingStore&) = delete;

  std::string Name() const override { return server->Name(); }
  // Refused when the local trace cannot be opened, or the server answers and refuses; a
  // server that does not answer leaves the station recording locally.
  bool Open(std::string& problem) override;
  bool BeginRun(const TraceJob& job, const TraceRun& run, std::string& problem) override;
  bool TakeNumbers(const std::string& job, int want, int floor, NumberGrant& grant,
                   std::string& problem) override;
  bool GiveBack(const std::string& job, const std::vector<int>& numbers,
                std::string& problem) override;
  bool Record(const TraceEvent& event, std::string& problem) override;
  bool EndRun(const TraceRun& run, std::string& problem) override;
  // Reads go to the server while it answers and holds everything; otherwise to the station's
  // own trace.
  bool Lot(const std::string& job, NumberGrant& state, std::string& problem) override;
  bool Unfinished(const std::string& host, const std::string& run, std::vector<TracePart>& parts,
                  std::string& problem) override;
  bool Load(const TraceFilter& filter, TraceContents& contents, std::string& problem) override;

  std::string Backlog() const override;
  // For the screen: "recording locally, 12 events waiting".
  int Waiting() const { return waiting; }
  bool Local() const { return offline; }

 private:
  // What the queue holds: an entry names a row of the local trace (a run's begin or end, an
  // event) or carries numbers to give back.
  struct Entry {
    int64_t seq = 0;
    std::string kind;  // "begin", "event", "end", "numbers"
    std::string run;
    std::string ref;  // the event's id, or the job of "numbers"
    std::string numbers;
  };
  enum class Sent { kDone, kServerGone, kFailed };
  using Step = std::function<bool(std::string&)>;
  // The pattern of every change: recorded locally, then queued, then the queue forwarded.
  // Local first, so that every entry another process of the station finds in the queue has
  // its row committed; sendNow serves the entry just queued without reading it back.
  bool Change(const Entry& entry, const Step& recordLocally, const Step& sendNow,
              std::string& problem);
  bool Flush(int64_t newest, const Step& sendNow, std::string& problem);
  Sent Forward(const Entry& entry, std::map<std::string, TraceContents>& runs,
               std::string& problem);
  Sent Sending(bool sent) const;
  void GoOffline();
  // A read: from the server while it holds everything, else from the local trace.
  bool Read(const Step& fromServer, const Step& fromLocal, std::string& problem);
  void TryReconnect();
  bool ServerHoldsAll() const { return !offline && waiting == 0; }
  bool Enqueue(Entry& entry, std::string& problem);
  bool Dequeue(int64_t seq, std::string& problem);
  bool Queued(std::vector<Entry>& entries, std::string& problem);
  bool OpenOutbox(std::string& problem);
  bool Outbox(const char* sql, const std::vector<std::string>& values, std::string& problem);
  void Count();
  void GrantFromReserve(const std::string& job, int want, NumberGrant& grant);

  std::unique_ptr<PostgresStore> server;
  std::unique_ptr<TraceStore> local;
  std::string outboxPath;
  sqlite3* outbox = nullptr;
  std::atomic<int> waiting{0};
  std::atomic<bool> offline{true};
  std::chrono::steady_clock::time_point lastTry{};
  std::map<std::string, std::vector<int>> reserve;  // by job, lowest first
  std::map<std::string, NumberGrant> lastGrant;     // the server's last word on each job's lot
  std::mutex mutex;  // one call at a time: the queue's order is the calls' order
};

}  // namespace qs71prog
