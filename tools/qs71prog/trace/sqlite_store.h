#pragma once
// The trace in one SQLite file: a station's own, with nothing to set up. WAL mode, so that a
// report can read while a run writes, and synchronous=FULL, so that a committed event is on
// the disk when its call returns: the "started" event of a part is there before its first
// write. Several processes of one station may share the file; each call is one IMMEDIATE
// transaction, waiting its turn for a while. The file is the one it was when opened until
// the run ends: a trace deleted or replaced under a run is noticed before the next part.

#include <sqlite3.h>

#include <mutex>
#include <string>

#include "file_system.h"
#include "trace/trace_sql.h"

namespace qs71prog {

class SqliteStore : public SqlTraceStore, private TraceSql {
 public:
  explicit SqliteStore(std::string path);
  ~SqliteStore() override;
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  std::string Name() const override { return path; }
  bool Open(std::string& problem) override;
  bool OpenToRead(std::string& problem) override;
  bool StillInPlace(std::string& problem) override;
  bool Transaction(const Work& work, std::string& problem) override;

 private:
  bool Query(const std::string& sql, const TraceRow& values, TraceRows& rows,
             std::string& problem) override;
  bool Failed(const char* what, std::string& problem) const;
  bool Begin(std::string& problem);
  bool Commit(bool ok, std::string& problem);
  bool Connect(int flags, std::string& problem);

  std::string path;
  FileIdentity opened;  // the file at path when it was opened
  sqlite3* db = nullptr;
  bool readOnly = false;
  std::mutex mutex;  // one transaction at a time from the run's threads
};

}  // namespace qs71prog
