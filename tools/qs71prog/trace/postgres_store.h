#pragma once
// The trace of a line of stations in one PostgreSQL database. Several stations, each a
// process of its own, write to it at once: every call is one transaction, and the numbers of
// a job are granted under a lock on the job's row, so that no number goes to two stations.
// A server that does not answer is told apart from one that refuses (a wrong password, a
// newer schema): the first is the forwarding store's cue to record locally, the second a
// reason to stop.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "trace/trace_store.h"

struct pg_conn;

namespace qs71prog {

class PostgresStore : public TraceStore {
 public:
  // connection: a "postgresql://..." URI or "key=value ..." words, as libpq takes them.
  explicit PostgresStore(std::string connection);
  ~PostgresStore() override;
  PostgresStore(const PostgresStore&) = delete;
  PostgresStore& operator=(const PostgresStore&) = delete;

  std::string Name() const override { return name; }
  // Connects (again, when a connection was open) and brings the schema up to date.
  bool Open(std::string& problem) override;
  bool BeginRun(const TraceJob& job, const TraceRun& run, std::string& problem) override;
  bool TakeNumbers(const std::string& job, int want, int floor, NumberGrant& grant,
                   std::string& problem) override;
  bool GiveBack(const std::string& job, const std::vector<int>& numbers,
                std::string& problem) override;
  bool Record(const TraceEvent& event, std::string& problem) override;
  bool EndRun(const TraceRun& run, std::string& problem) override;
  bool Lot(const std::string& job, NumberGrant& state, std::string& problem) override;
  bool Unfinished(const std::string& host, const std::string& run, std::vector<TracePart>& parts,
                  std::string& problem) override;
  bool Load(const TraceFilter& filter, TraceContents& contents, std::string& problem) override;

  // After a failed call: true when it failed because the server could not be reached (no
  // connection, or one that broke), false when the server answered and refused.
  bool Unreachable() const { return unreachable; }

 private:
  bool Connect(std::string& problem);
  bool Migrate(std::string& problem);
  // Runs body in one transaction: committed when it returns true, rolled back otherwise, and
  // a failure's reason named after the trace.
  bool Transact(const std::function<bool(std::string&)>& body, std::string& problem);

  std::string connection;
  std::string name;
  pg_conn* conn = nullptr;
  bool unreachable = false;
  std::mutex mutex;  // one transaction at a time on the connection, from the run's threads
};

// The connection string as the screen may show it: its server, port, user and database as a
// URI, without the password.
std::string PostgresDisplayName(const std::string& connection);

}  // namespace qs71prog
