#include "trace/trace_test_backends.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <sstream>

#include "trace/forwarding_store.h"
#include "trace/postgres_store.h"
#include "trace/sqlite_store.h"

namespace qs71prog::testing_trace {

namespace {

using testsupport::PostgresServer;

class SqliteBackend : public TraceBackend {
 public:
  explicit SqliteBackend(const std::filesystem::path& folder) : file(folder / "trace.db") {}
  std::string Name() const override { return "sqlite"; }
  bool Start(std::string&) override { return true; }
  void Reset() override {
    for (const char* end : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + end);
  }
  std::unique_ptr<SqlTraceStore> Store() override {
    return std::make_unique<SqliteStore>(file.string());
  }
  std::unique_ptr<TraceStore> Station(const std::filesystem::path&) override { return Store(); }
  std::string Target() const override { return file.string(); }
  std::string Sql(const std::string& statements) override {
    sqlite3* db = nullptr;
    char* error = nullptr;
    std::string rows;
    sqlite3_open(file.c_str(), &db);
    sqlite3_busy_timeout(db, 10000);
    const int status = sqlite3_exec(
        db, statements.c_str(),
        [](void* out, int count, char** values, char**) {
          std::string& text = *static_cast<std::string*>(out);
          for (int i = 0; i < count; ++i) text += (i ? "|" : "") + std::string(values[i] ? values[i] : "");
          text += "\n";
          return 0;
        },
        &rows, &error);
    EXPECT_EQ(status, SQLITE_OK) << (error ? error : "") << "\n" << statements;
    sqlite3_free(error);
    sqlite3_close(db);
    return rows;
  }

 private:
  std::filesystem::path file;
};

class PostgresBackend : public TraceBackend {
 public:
  explicit PostgresBackend(const std::filesystem::path& folder) : server(folder / "server") {}
  std::string Name() const override { return "postgresql"; }
  bool Start(std::string& problem) override {
    if (!PostgresServer::Installed()) return problem = "the postgresql package is not installed", false;
    return server.Start(problem);
  }
  void Reset() override { Sql("DROP SCHEMA public CASCADE; CREATE SCHEMA public"); }
  std::unique_ptr<SqlTraceStore> Store() override {
    return std::make_unique<PostgresStore>(Target());
  }
  std::unique_ptr<TraceStore> Station(const std::filesystem::path& spool) override {
    return std::make_unique<ForwardingStore>(std::make_unique<PostgresStore>(Target()),
                                             std::make_unique<SqliteStore>(spool.string()));
  }
  std::string Target() const override { return server.Connection(); }
  std::string Sql(const std::string& statements) override {
    std::string rows, problem;
    EXPECT_TRUE(server.Sql(statements, rows, problem)) << problem << "\n" << statements;
    return rows;
  }
  void Stop() override { server.Stop(); }
  bool Restart(std::string& problem) override { return server.Start(problem); }
  bool IsLine() const override { return true; }

 private:
  PostgresServer server;
};

}  // namespace

std::unique_ptr<TraceBackend> MakeBackend(const std::string& name,
                                          const std::filesystem::path& folder) {
  if (name == "sqlite") return std::make_unique<SqliteBackend>(folder);
  return std::make_unique<PostgresBackend>(folder);
}

const std::vector<std::string>& BackendNames() {
  static const std::vector<std::string> names = {"sqlite", "postgresql"};
  return names;
}

std::string DumpStatements(const std::filesystem::path& dump) {
  std::ifstream in(dump);
  std::string text, line;
  while (std::getline(in, line)) {
    if (line.rfind("PRAGMA", 0) != 0) text += line + "\n";
  }
  return text;
}

TraceJob MakeJob(int lot, const std::string& hash) {
  return {hash, "doorbell", "WO-7", "", "toy.bin", "ab12", lot};
}

TraceRun MakeRun(const std::string& id, const std::string& job, const std::string& host) {
  return {id, job, "bench-3", "ann", host, "0.1", "2026-12-09T10:00:00.000Z", "", 0, "", 0};
}

TraceEvent MakeEvent(const std::string& run, int seq, const std::string& kind, int part,
                     const std::string& result, const std::string& job) {
  TraceEvent event;
  event.id = run + "/" + std::to_string(seq);
  event.job = job;
  event.seq = seq;
  PartRecord& row = event.row;
  row.time = "2026-12-09T10:00:" + std::to_string(10 + seq % 50) + ".000Z";
  row.host = "bench-host";
  row.programmer = 1;
  row.programmerKey = row.programmerSerial = "QS71EMU-01";
  row.part = part;
  row.chipId = "6D 61 02 00";
  row.run = run;
  row.station = "bench-3";
  row.operatorName = "ann";
  row.event = kind;
  row.result = result;
  if (kind == "part") {
    row.status = result == "pass" ? "ok" : "verify-mismatch — reject the part";
    row.exit = result == "pass" ? 0 : 8;
    row.seconds = 2.5;
    row.stepSeconds = {-1.0, 0.25, 1.5, 0.5};
    if (result == "fail") row.blocks = {"0x002300-0x0023FF"};
  }
  return event;
}

}  // namespace qs71prog::testing_trace
