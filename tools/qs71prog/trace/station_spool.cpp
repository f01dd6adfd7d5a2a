#include "trace/station_spool.h"

#include <sqlite3.h>

#include <chrono>

namespace qs71prog {

namespace {

using V = TraceValue;

constexpr const char* kEntryColumns = "seq, kind, run, ref, numbers, grant_id";

SpoolEntry EntryOf(const TraceRow& row) {
  SpoolEntry entry{row[0].AsInteger(), row[1].AsText(), row[2].AsText(), row[3].AsText(),
                   row[4].AsText(),    row[5].AsText(), "", ""};
  if (row.size() > 7) {
    entry.reason = row[6].AsText();
    entry.at = row[7].AsText();
  }
  return entry;
}

bool HasColumn(TraceSql& sql, const char* table, const char* column, bool& has,
               std::string& problem) {
  TraceRows columns;
  if (!sql.Query(std::string("PRAGMA table_info(") + table + ")", {}, columns, problem)) {
    return false;
  }
  has = false;
  for (const TraceRow& row : columns) has = has || row[1].AsText() == column;
  return true;
}

}  // namespace

bool PrepareSpool(TraceSql& sql, std::string& problem) {
  bool grants = false;
  if (!sql.Execute("CREATE TABLE IF NOT EXISTS outbox (seq INTEGER PRIMARY KEY AUTOINCREMENT, "
                   "kind TEXT NOT NULL, run TEXT NOT NULL, ref TEXT NOT NULL, "
                   "numbers TEXT NOT NULL, grant_id TEXT NOT NULL DEFAULT '')",
                   {}, problem) ||
      !sql.Execute("CREATE TABLE IF NOT EXISTS refused (seq INTEGER PRIMARY KEY, "
                   "kind TEXT NOT NULL, run TEXT NOT NULL, ref TEXT NOT NULL, "
                   "numbers TEXT NOT NULL, grant_id TEXT NOT NULL, reason TEXT NOT NULL, "
                   "refused_at TEXT NOT NULL, cleared_at TEXT)",
                   {}, problem) ||
      !HasColumn(sql, "outbox", "grant_id", grants, problem)) {
    return false;
  }
  // The queue of a qs71prog from before grants had their own IDs.
  return grants || sql.Execute("ALTER TABLE outbox ADD COLUMN grant_id TEXT NOT NULL DEFAULT ''",
                               {}, problem);
}

bool Enqueue(TraceSql& sql, SpoolEntry& entry, std::string& problem) {
  TraceRows rows;
  if (!sql.Query("INSERT INTO outbox (kind, run, ref, numbers, grant_id) VALUES ($1, $2, $3, $4, "
                 "$5) RETURNING seq",
                 {V::Text(entry.kind), V::Text(entry.run), V::Text(entry.ref),
                  V::Text(entry.numbers), V::Text(entry.grant)},
                 rows, problem)) {
    return false;
  }
  entry.seq = rows.empty() ? 0 : rows[0][0].AsInteger();
  return true;
}

bool Dequeue(TraceSql& sql, const std::vector<int64_t>& seqs, std::string& problem) {
  for (const int64_t seq : seqs) {
    if (!sql.Execute("DELETE FROM outbox WHERE seq = $1", {V::Integer(seq)}, problem)) return false;
  }
  return true;
}

bool Queued(TraceSql& sql, std::vector<SpoolEntry>& entries, std::string& problem) {
  TraceRows rows;
  if (!sql.Query(std::string("SELECT ") + kEntryColumns + " FROM outbox ORDER BY seq", {}, rows,
                 problem)) {
    return false;
  }
  for (const TraceRow& row : rows) entries.push_back(EntryOf(row));
  return true;
}

bool SetAside(TraceSql& sql, const SpoolEntry& entry, const std::string& reason,
              std::string& problem) {
  const std::string now = UtcTimestamp(std::chrono::system_clock::now());
  return sql.Execute("INSERT INTO refused (seq, kind, run, ref, numbers, grant_id, reason, "
                     "refused_at) VALUES ($1, $2, $3, $4, $5, $6, $7, $8)",
                     {V::Integer(entry.seq), V::Text(entry.kind), V::Text(entry.run),
                      V::Text(entry.ref), V::Text(entry.numbers), V::Text(entry.grant),
                      V::Text(reason), V::Text(now)},
                     problem) &&
         Dequeue(sql, {entry.seq}, problem);
}

bool RefusedEntries(TraceSql& sql, std::vector<SpoolEntry>& entries, std::string& problem) {
  TraceRows rows;
  if (!sql.Query(std::string("SELECT ") + kEntryColumns + ", reason, refused_at FROM refused "
                     "WHERE cleared_at IS NULL ORDER BY seq",
                 {}, rows, problem)) {
    return false;
  }
  for (const TraceRow& row : rows) entries.push_back(EntryOf(row));
  return true;
}

bool ForgetRefused(TraceSql& sql, int64_t seq, std::string& problem) {
  return sql.Execute("DELETE FROM refused WHERE seq = $1", {V::Integer(seq)}, problem);
}

bool ClearRefused(TraceSql& sql, int64_t seq, const std::string& reason, std::string& problem) {
  return sql.Execute("UPDATE refused SET reason = $2, cleared_at = $3 WHERE seq = $1",
                     {V::Integer(seq), V::Text(reason),
                      V::Text(UtcTimestamp(std::chrono::system_clock::now()))},
                     problem);
}

bool SpoolCounts(TraceSql& sql, int& waiting, int& refused, std::string& problem) {
  TraceRows rows;
  if (!sql.Query("SELECT (SELECT count(*) FROM outbox), (SELECT count(*) FROM refused WHERE "
                 "cleared_at IS NULL)",
                 {}, rows, problem)) {
    return false;
  }
  waiting = static_cast<int>(rows[0][0].AsInteger());
  refused = static_cast<int>(rows[0][1].AsInteger());
  return true;
}

int RefusedInSpool(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_stmt* statement = nullptr;
  int refused = 0;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "SELECT count(*) FROM refused WHERE cleared_at IS NULL", -1,
                         &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    refused = sqlite3_column_int(statement, 0);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return refused;
}

}  // namespace qs71prog
