#pragma once
// The trace's tests run on both of its databases: a station's SQLite file and a line's
// PostgreSQL server of the test's own (tests/common/postgres_server.h). A backend gives a new
// store on an empty or kept trace, raw SQL beside the store (to set a trace up as a fault
// left it, and to look at what the store wrote), and for the line a station forwarding to
// the server through its own spool.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "postgres_server.h"
#include "trace/trace_sql.h"
#include "trace/trace_store.h"

namespace qs71prog::testing_trace {

class TraceBackend {
 public:
  virtual ~TraceBackend() = default;
  virtual std::string Name() const = 0;
  // False with the reason when this machine cannot run it (no PostgreSQL package).
  virtual bool Start(std::string& problem) = 0;
  // An empty trace: nothing left by the row before.
  virtual void Reset() = 0;
  // A store of the trace, not opened yet; each call a connection of its own.
  virtual std::unique_ptr<SqlTraceStore> Store() = 0;
  // A station's store as a production run uses it: the SQLite file itself, or the server
  // with the station's spool at spool.
  virtual std::unique_ptr<TraceStore> Station(const std::filesystem::path& spool) = 0;
  // The --trace a run is given for it.
  virtual std::string Target() const = 0;
  // One or more statements; the rows of the last, a line each, columns joined by '|', NULL
  // empty. Fails the test when the database refuses.
  virtual std::string Sql(const std::string& statements) = 0;
  // The server stopped and started again; nothing for SQLite.
  virtual void Stop() {}
  virtual bool Restart(std::string& problem) { return (void)problem, true; }
  virtual bool IsLine() const { return false; }
};

// "sqlite" and "postgresql", with their files in folder.
std::unique_ptr<TraceBackend> MakeBackend(const std::string& name,
                                          const std::filesystem::path& folder);
const std::vector<std::string>& BackendNames();

// Statements of a file as the sqlite3 shell's .dump writes them, for either database: the
// dump of a trace that an earlier qs71prog made.
std::string DumpStatements(const std::filesystem::path& dump);

// Rows as a run writes them: job "job-1" (lot), run id (host "bench-host"), events.
TraceJob MakeJob(int lot, const std::string& hash = "job-1");
TraceRun MakeRun(const std::string& id, const std::string& job = "job-1",
                 const std::string& host = "bench-host");
TraceEvent MakeEvent(const std::string& run, int seq, const std::string& kind, int part,
                     const std::string& result = "", const std::string& job = "job-1");

}  // namespace qs71prog::testing_trace
