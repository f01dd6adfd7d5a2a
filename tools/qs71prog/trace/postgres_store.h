#pragma once
// The trace of a line of stations in one PostgreSQL database. Several stations, each a
// process of its own, write to it at once: every call is one transaction, and the numbers of
// a job are granted under a lock on the job's row (trace_sql.cpp), so that no number goes to
// two stations. A server that does not answer is told apart from one that refuses (a wrong
// password, a newer schema): the first is the forwarding store's cue to record locally, the
// second a reason to stop.

#include <mutex>
#include <string>

#include "trace/trace_sql.h"

struct pg_conn;

namespace qs71prog {

class PostgresStore : public SqlTraceStore, private TraceSql {
 public:
  // connection: a "postgresql://..." URI or "key=value ..." words, as libpq takes them;
  // rootCertificate: the CA file the server's certificate must come from (sslrootcert, with
  // sslmode verify-full unless connection says otherwise), empty for libpq's own choice.
  explicit PostgresStore(std::string connection, std::string rootCertificate = "");
  ~PostgresStore() override;
  PostgresStore(const PostgresStore&) = delete;
  PostgresStore& operator=(const PostgresStore&) = delete;

  std::string Name() const override { return name; }
  // Connects (again, when a connection was open) and brings the schema up to date.
  bool Open(std::string& problem) override;
  // Connects and checks the schema's version; nothing is created or changed.
  bool OpenToRead(std::string& problem) override;
  bool Transaction(const Work& work, std::string& problem) override;
  bool ReadOnce(const Work& work, std::string& problem) override;

  // For a station that keeps what it sent in its spool until the server has it on its disk:
  // commits no longer wait for the server's disk, except the next one after NextDurable,
  // which, WAL being written in order, vouches for every commit before it as well.
  void CommitWithoutWaiting() { lazy = true; }
  void NextDurable() { durableNext = true; }

  // After a failed call: true when it failed because the server could not be reached (no
  // connection, or one that broke), or for a reason of the moment that the same call may not
  // meet again (a full disk, a server shutting down, a deadlock); false when the server
  // answered and refused what was sent.
  bool Unreachable() const { return unreachable; }

 private:
  bool Query(const std::string& sql, const TraceRow& values, TraceRows& rows,
             std::string& problem) override;
  bool Connect(std::string& problem);

  std::string connection;
  std::string rootCertificate;
  std::string name;
  pg_conn* conn = nullptr;
  bool unreachable = false;
  bool passing = false;  // the last statement failed for a reason of the moment
  bool lazy = false;
  bool durableNext = false;
  std::recursive_mutex mutex;  // one transaction at a time on the connection
};

// The connection string as the screen may show it: its server, port, user and database as a
// URI, without the password.
std::string PostgresDisplayName(const std::string& connection);

}  // namespace qs71prog
