#include "trace/sqlite_store.h"

#include <utility>


namespace qs71prog {

namespace {

// How long a call waits while another process of the station holds the write lock.
constexpr int kBusyMilliseconds = 10000;

// One prepared statement; finalised when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      statement = nullptr;
    }
  }
  ~Statement() { sqlite3_finalize(statement); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool Ready() const { return statement != nullptr; }
  // $1 is values[0], wherever it stands in the statement.
  void Bind(const TraceRow& values) {
    for (size_t index = 0; index < values.size(); ++index) {
      const std::string name = "$" + std::to_string(index + 1);
      const int at = sqlite3_bind_parameter_index(statement, name.c_str());
      if (at > 0) Bind(at, values[index]);
    }
  }
  // SQLITE_ROW while there are rows, SQLITE_DONE after them, else the error.
  int Step() { return sqlite3_step(statement); }
  TraceRow Row() const {
    TraceRow row;
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      row.push_back(Column(column));
    }
    return row;
  }

 private:
  TraceValue Column(int column) const {
    switch (sqlite3_column_type(statement, column)) {
      case SQLITE_NULL: return TraceValue::Null();
      case SQLITE_INTEGER: return TraceValue::Integer(sqlite3_column_int64(statement, column));
      case SQLITE_FLOAT: return TraceValue::Real(sqlite3_column_double(statement, column));
      default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        return TraceValue::Text(text == nullptr ? "" : text);
      }
    }
  }
  void Bind(int at, const TraceValue& value) {
    switch (value.kind) {
      case TraceValue::kNull: sqlite3_bind_null(statement, at); break;
      case TraceValue::kInteger: sqlite3_bind_int64(statement, at, value.integer); break;
      case TraceValue::kReal: sqlite3_bind_double(statement, at, value.real); break;
      case TraceValue::kText:
        sqlite3_bind_text(statement, at, value.text.c_str(), static_cast<int>(value.text.size()),
                          SQLITE_TRANSIENT);
        break;
    }
  }

  sqlite3_stmt* statement = nullptr;
};

}  // namespace

SqliteStore::SqliteStore(std::string path) : path(std::move(path)) {}

SqliteStore::~SqliteStore() { sqlite3_close(db); }

bool SqliteStore::Failed(const char* what, std::string& problem) const {
  problem = "the trace " + path + " " + what + ": " + sqlite3_errmsg(db);
  return false;
}

bool SqliteStore::Query(const std::string& sql, const TraceRow& values, TraceRows& rows,
                        std::string& problem) {
  Statement statement(db, sql);
  if (!statement.Ready()) return Failed("cannot be read", problem);
  statement.Bind(values);
  int step = SQLITE_ROW;
  while ((step = statement.Step()) == SQLITE_ROW) rows.push_back(statement.Row());
  return step == SQLITE_DONE || Failed("cannot be written", problem);
}

bool SqliteStore::Begin(std::string& problem) {
  const char* begin = readOnly ? "BEGIN" : "BEGIN IMMEDIATE";
  if (sqlite3_exec(db, begin, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  return Failed("cannot be written", problem);
}

bool SqliteStore::Commit(bool ok, std::string& problem) {
  if (ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  if (ok) Failed("cannot be written", problem);
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

bool SqliteStore::Connect(int flags, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    return Failed("cannot be opened", problem);
  }
  sqlite3_busy_timeout(db, kBusyMilliseconds);
  return true;
}

bool SqliteStore::Open(std::string& problem) {
  if (!Connect(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, problem)) return false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    TraceRows mode;
    if (!Query("PRAGMA journal_mode=WAL", {}, mode, problem) ||
        !TraceSql::Execute("PRAGMA synchronous=FULL", {}, problem) ||
        !TraceSql::Execute("PRAGMA foreign_keys=ON", {}, problem)) {
      return false;
    }
  }
  // SQLite makes the file at its first write, so the file is known once the schema is there.
  const bool ready = Transaction(
      [this](TraceSql& sql, std::string& why) {
        TraceRows tables;
        if (!sql.Query("SELECT name FROM sqlite_master WHERE type = 'table'", {}, tables, why)) {
          return false;
        }
        std::vector<std::string> names;
        for (const TraceRow& row : tables) names.push_back(row[0].AsText());
        return UpToDate(sql, names, why);
      },
      problem);
  opened = IdentifyFile(path.c_str());
  return ready;
}

// A trace to read must be there: opening a missing one would make an empty file of it.
bool SqliteStore::OpenToRead(std::string& problem) {
  const FileIdentity file = IdentifyFile(path.c_str());
  if (!file.exists) {
    problem = "the trace " + path + " does not exist";
    return false;
  }
  readOnly = true;
  return Connect(SQLITE_OPEN_READONLY, problem) &&
         Transaction([this](TraceSql& sql, std::string& why) { return Readable(sql, why); },
                     problem);
}

// The name's file now against the one opened: SQLite keeps writing to a file deleted under
// it, where nobody would find the rows.
bool SqliteStore::StillInPlace(std::string& problem) {
  const FileIdentity now = IdentifyFile(path.c_str());
  if (SameFile(now, opened)) return true;
  problem = now.exists ? "the trace " + path + " was renamed or replaced by another file"
                       : "the trace " + path + " is gone: it was deleted or its folder removed";
  return false;
}

bool SqliteStore::Transaction(const Work& work, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!Begin(problem)) return false;
  return Commit(work(*this, problem), problem);
}

}  // namespace qs71prog
