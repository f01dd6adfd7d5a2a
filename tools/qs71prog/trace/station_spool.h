#pragma once
// A line station's spool: the queue of what the line's server has not got yet, and the
// entries it refused, set aside with its reason. Both are tables of the station's own SQLite
// trace (never of the shared schema), written in the same transaction as the row they name,
// so that a row is queued exactly when it is recorded. An entry names a row of the local
// trace (a run's begin or end, an event) or carries numbers to give back.

#include <cstdint>
#include <string>
#include <vector>

#include "trace/trace_sql.h"

namespace qs71prog {

struct SpoolEntry {
  int64_t seq = 0;
  std::string kind;  // "begin", "event", "end", "numbers"
  std::string run;
  std::string ref;  // the event's id, or the job of "numbers"
  std::string numbers;
  std::string grant;  // the grant of "numbers"; empty in a queue of an older qs71prog
  // Set aside: the server's words and when; cleared by an engineer (--clear-refused).
  std::string reason;
  std::string at;
};

// What --clear-refused did with a refused entry: sent now, or kept, cleared, with the server's
// latest reason.
struct ClearedEntry {
  SpoolEntry entry;
  bool sent = false;
};

// The tables, made where missing (and the grant column added to an older queue).
bool PrepareSpool(TraceSql& sql, std::string& problem);
// entry.seq is set to its place in the queue.
bool Enqueue(TraceSql& sql, SpoolEntry& entry, std::string& problem);
bool Dequeue(TraceSql& sql, const std::vector<int64_t>& seqs, std::string& problem);
// The queue, in order.
bool Queued(TraceSql& sql, std::vector<SpoolEntry>& entries, std::string& problem);
// Out of the queue and into the refused entries, with the server's reason.
bool SetAside(TraceSql& sql, const SpoolEntry& entry, const std::string& reason,
              std::string& problem);
// The entries the line refused and no engineer has cleared yet.
bool RefusedEntries(TraceSql& sql, std::vector<SpoolEntry>& entries, std::string& problem);
// After --clear-refused: sent now (gone from the list), or kept, cleared, with its reason.
bool ForgetRefused(TraceSql& sql, int64_t seq, std::string& problem);
bool ClearRefused(TraceSql& sql, int64_t seq, const std::string& reason, std::string& problem);
bool SpoolCounts(TraceSql& sql, int& waiting, int& refused, std::string& problem);

// The refused entries not cleared in the spool at path, for a report; 0 when it has none,
// is not there, or cannot be read.
int RefusedInSpool(const std::string& path);

}  // namespace qs71prog
