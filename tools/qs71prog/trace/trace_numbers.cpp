// A job's part numbers and its lot. Numbers are granted under a lock on the job's row, so that
// a line's server lets one station at a time past it, as grants that each have an ID of their
// own; a number stays with its grant until it is given back by that grant. The lot counts
// good parts, so what may still be granted is the lot less the good parts and the numbers
// that could still become good ones.
#include <algorithm>
#include <chrono>
#include <string>

#include "trace/trace_rows.h"
#include "trace/trace_sql.h"

namespace qs71prog {

namespace {

using V = TraceValue;

std::string Now() { return UtcTimestamp(std::chrono::system_clock::now()); }

// Locks the job's row until the transaction ends, and reads its next number and lot.
bool LockJob(TraceSql& sql, const std::string& trace, const std::string& job, int64_t& next,
             std::string& problem, int* lot = nullptr) {
  TraceRows rows;
  if (!sql.Query("UPDATE jobs SET next_number = next_number WHERE hash = $1 "
                 "RETURNING next_number, lot",
                 {V::Text(job)}, rows, problem)) {
    return false;
  }
  if (rows.empty()) {
    problem = "the job " + job + " is not in the trace " + trace;
    return false;
  }
  next = rows[0][0].AsInteger();
  if (lot != nullptr) *lot = static_cast<int>(rows[0][1].AsInteger());
  return true;
}

// The numbers a grant holds now, lowest first.
bool HeldNumbers(TraceSql& sql, const std::string& grant, std::vector<int>& numbers,
                 std::string& problem) {
  TraceRows rows;
  if (!sql.Query("SELECT number FROM granted_numbers WHERE grant_id = $1 ORDER BY number",
                 {V::Text(grant)}, rows, problem)) {
    return false;
  }
  for (const TraceRow& row : rows) numbers.push_back(static_cast<int>(row[0].AsInteger()));
  return true;
}

// A grant already recorded under this id: found when it is; a conflict when it is another
// job's or run's.
bool KnownGrant(TraceSql& sql, const std::string& trace, const std::string& id,
                const std::string& job, const std::string& run, bool& found,
                std::string& problem) {
  TraceRows rows;
  if (!sql.Query("SELECT job, run FROM grants WHERE id = $1", {V::Text(id)}, rows, problem)) {
    return false;
  }
  found = !rows.empty();
  if (!found || (rows[0][0].AsText() == job && rows[0][1].AsText() == run)) return true;
  problem = "the trace " + trace + " already holds the grant " + id + " for \"job " +
            rows[0][0].AsText() + ", run " + rows[0][1].AsText() + "\", and this one is for \"job " +
            job + ", run " + run + "\": a row of the trace is never written over";
  return false;
}

// The number now belongs to grant: a given-back one moves, a new one is added.
bool HoldNumber(TraceSql& sql, const std::string& job, int number, const std::string& grant,
                std::string& problem) {
  TraceRows moved;
  if (!sql.Query("UPDATE granted_numbers SET grant_id = $3 WHERE job = $1 AND number = $2 "
                 "RETURNING number",
                 {V::Text(job), V::Integer(number), V::Text(grant)}, moved, problem)) {
    return false;
  }
  return !moved.empty() ||
         sql.Execute("INSERT INTO granted_numbers (job, number, grant_id) VALUES ($1, $2, $3)",
                     {V::Text(job), V::Integer(number), V::Text(grant)}, problem);
}

// Above every number the trace knows of: granted, taken by a part, or the log's floor.
bool FirstNew(TraceSql& sql, const std::string& job, int64_t next, int floor, int64_t& first,
              std::string& problem) {
  TraceRows rows;
  if (!sql.Query("SELECT (SELECT max(number) FROM parts WHERE job = $1), "
                 "(SELECT max(number) FROM granted_numbers WHERE job = $1)",
                 {V::Text(job)}, rows, problem)) {
    return false;
  }
  first = std::max({next, rows[0][0].AsInteger() + 1, rows[0][1].AsInteger() + 1,
                    static_cast<int64_t>(floor) + 1});
  return true;
}

// Given-back numbers first, lowest first, then new ones from first on; spares says how many
// of them were given back.
bool ChooseNumbers(TraceSql& sql, const std::string& job, int want, int64_t first,
                   std::vector<int>& numbers, size_t& spares, std::string& problem) {
  TraceRows given;
  if (!sql.Query("SELECT s.number FROM spare_numbers s WHERE s.job = $1 AND NOT EXISTS "
                 "(SELECT 1 FROM parts p WHERE p.job = s.job AND p.number = s.number) "
                 "ORDER BY s.number LIMIT $2",
                 {V::Text(job), V::Integer(want)}, given, problem)) {
    return false;
  }
  for (const TraceRow& spare : given) {
    numbers.push_back(static_cast<int>(spare[0].AsInteger()));
    if (!sql.Execute("DELETE FROM spare_numbers WHERE job = $1 AND number = $2",
                     {V::Text(job), spare[0]}, problem)) {
      return false;
    }
  }
  spares = numbers.size();
  for (int64_t next = first; static_cast<int>(numbers.size()) < want; ++next) {
    numbers.push_back(static_cast<int>(next));
  }
  return true;
}

bool AddGrantRow(TraceSql& sql, const std::string& job, const std::string& run,
                 const NumberGrant& grant, std::string& problem) {
  return sql.Execute("INSERT INTO grants (id, job, run, numbers, granted_at) VALUES ($1, $2, $3, "
                     "$4, $5)",
                     {V::Text(grant.id), V::Text(job), V::Text(run),
                      V::Text(NumbersText(grant.numbers)), V::Text(Now())},
                     problem);
}

// The grant's row and its numbers: each given-back one moved to it, the new ones, above every
// number granted before, added in one statement (a line's server is a round trip away).
bool AddGrant(TraceSql& sql, const std::string& job, const std::string& run,
              const NumberGrant& grant, size_t spares, std::string& problem) {
  if (!AddGrantRow(sql, job, run, grant, problem)) return false;
  for (size_t index = 0; index < spares; ++index) {
    if (!HoldNumber(sql, job, grant.numbers[index], grant.id, problem)) return false;
  }
  if (spares == grant.numbers.size()) return true;
  return sql.Execute("WITH RECURSIVE n(v) AS (SELECT $2 UNION ALL SELECT v + 1 FROM n WHERE "
                     "v < $3) INSERT INTO granted_numbers (job, number, grant_id) SELECT $1, v, "
                     "$4 FROM n",
                     {V::Text(job), V::Integer(grant.numbers[spares]),
                      V::Integer(grant.numbers.back()), V::Text(grant.id)},
                     problem);
}

bool MoveNextNumber(TraceSql& sql, const std::string& job, const std::vector<int>& numbers,
                    std::string& problem) {
  if (numbers.empty()) return true;
  const int highest = *std::max_element(numbers.begin(), numbers.end());
  return sql.Execute("UPDATE jobs SET next_number = $2 WHERE hash = $1 AND next_number < $2",
                     {V::Text(job), V::Integer(highest + 1)}, problem);
}

// A give-back queued by a qs71prog from before grants had IDs: its numbers go back unless a
// part took them, they are offered already, or a grant holds them now.
bool GiveBackUngranted(TraceSql& sql, const std::string& job, const std::vector<int>& numbers,
                       std::string& problem) {
  for (const int number : numbers) {
    if (!sql.Execute("INSERT INTO spare_numbers (job, number) SELECT $1, $2 WHERE NOT EXISTS "
                     "(SELECT 1 FROM parts WHERE job = $1 AND number = $2) AND NOT EXISTS "
                     "(SELECT 1 FROM spare_numbers WHERE job = $1 AND number = $2) AND NOT "
                     "EXISTS (SELECT 1 FROM granted_numbers WHERE job = $1 AND number = $2)",
                     {V::Text(job), V::Integer(number)}, problem)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool SqlTraceStore::LotIn(TraceSql& sql, const std::string& job, LotState& state,
                          std::string& problem) {
  // open: numbers held by a grant not given back and not yet judged, and parts under way or
  // cut short that no such grant holds (a crashed run's, whose reserve went back).
  TraceRows rows;
  if (!sql.Query(
          "SELECT j.lot, "
          "(SELECT count(*) FROM parts p WHERE p.job = j.hash AND p.result IN ('pass', "
          "'unverified')), "
          "(SELECT count(*) FROM parts p WHERE p.job = j.hash AND p.result IN ('fail', "
          "'aborted')), "
          "(SELECT count(*) FROM granted_numbers g JOIN grants r ON r.id = g.grant_id WHERE "
          "g.job = j.hash AND r.returned_at IS NULL AND NOT EXISTS (SELECT 1 FROM parts p "
          "WHERE p.job = g.job AND p.number = g.number AND p.result IS NOT NULL)), "
          "(SELECT count(*) FROM parts p WHERE p.job = j.hash AND p.result IS NULL AND NOT "
          "EXISTS (SELECT 1 FROM granted_numbers g JOIN grants r ON r.id = g.grant_id WHERE "
          "g.job = p.job AND g.number = p.number AND r.returned_at IS NULL)) "
          "FROM jobs j WHERE j.hash = $1",
          {V::Text(job)}, rows, problem)) {
    return false;
  }
  if (rows.empty()) {
    problem = "the job " + job + " is not in the trace " + Name();
    return false;
  }
  state.lot = static_cast<int>(rows[0][0].AsInteger());
  state.good = static_cast<int>(rows[0][1].AsInteger());
  state.scrap = static_cast<int>(rows[0][2].AsInteger());
  state.open = static_cast<int>(rows[0][3].AsInteger() + rows[0][4].AsInteger());
  state.since.clear();
  return true;
}

bool SqlTraceStore::TakeNumbersIn(TraceSql& sql, const std::string& job, const std::string& run,
                                  int want, int floor, NumberGrant& grant, std::string& problem) {
  int64_t next = 0;
  int lot = 0;
  bool known = false;
  if (!LockJob(sql, Name(), job, next, problem, &lot) ||
      !KnownGrant(sql, Name(), grant.id, job, run, known, problem)) {
    return false;
  }
  // A job without a lot has no room to count: its parts are not counted at every grant.
  grant.lot.lot = lot;
  if (lot > 0 && !LotIn(sql, job, grant.lot, problem)) return false;
  if (known) return HeldNumbers(sql, grant.id, grant.numbers, problem);
  if (grant.lot.Limited()) want = std::min(want, grant.lot.Share());
  int64_t first = 0;
  size_t spares = 0;
  if (want <= 0) return true;
  if (!FirstNew(sql, job, next, floor, first, problem) ||
      !ChooseNumbers(sql, job, want, first, grant.numbers, spares, problem) ||
      !AddGrant(sql, job, run, grant, spares, problem) ||
      !MoveNextNumber(sql, job, grant.numbers, problem)) {
    return false;
  }
  grant.lot.open += static_cast<int>(grant.numbers.size());
  return true;
}

bool SqlTraceStore::TakeNumbers(const std::string& job, const std::string& run, int want,
                                int floor, NumberGrant& grant, std::string& problem) {
  NumberGrant asked{grant.id, {}, {}};
  return Transaction(
      [&](TraceSql& sql, std::string& why) {
        grant = asked;
        return TakeNumbersIn(sql, job, run, want, floor, grant, why);
      },
      problem);
}

bool SqlTraceStore::GiveBackIn(TraceSql& sql, const std::string& job, const std::string& grant,
                               const std::vector<int>& numbers, std::string& problem) {
  int64_t next = 0;
  TraceRows rows;
  if (!LockJob(sql, Name(), job, next, problem)) return false;
  if (grant.empty()) return GiveBackUngranted(sql, job, numbers, problem);
  if (!sql.Query("SELECT job FROM grants WHERE id = $1", {V::Text(grant)}, rows, problem)) {
    return false;
  }
  if (rows.empty() || rows[0][0].AsText() != job) {
    problem = "the trace " + Name() + " holds no grant " + grant + " of the job " + job +
              " to give numbers back to";
    return false;
  }
  // Only what the grant still holds and no part took: the same give-back again, after its
  // numbers went to another station, gives nothing.
  for (const int number : numbers) {
    if (!sql.Execute("INSERT INTO spare_numbers (job, number) SELECT $1, $2 WHERE EXISTS "
                     "(SELECT 1 FROM granted_numbers WHERE job = $1 AND number = $2 AND "
                     "grant_id = $3) AND NOT EXISTS (SELECT 1 FROM parts WHERE job = $1 AND "
                     "number = $2) AND NOT EXISTS (SELECT 1 FROM spare_numbers WHERE job = $1 "
                     "AND number = $2)",
                     {V::Text(job), V::Integer(number), V::Text(grant)}, problem)) {
      return false;
    }
  }
  return sql.Execute("UPDATE grants SET returned_at = $2 WHERE id = $1 AND returned_at IS NULL",
                     {V::Text(grant), V::Text(Now())}, problem);
}

bool SqlTraceStore::GiveBack(const std::string& job, const std::string& grant,
                             const std::vector<int>& numbers, std::string& problem) {
  return Transaction(
      [&](TraceSql& sql, std::string& why) { return GiveBackIn(sql, job, grant, numbers, why); },
      problem);
}

bool SqlTraceStore::AdoptGrantIn(TraceSql& sql, const std::string& job, const std::string& run,
                                 const NumberGrant& grant, std::string& problem) {
  bool known = false;
  if (!KnownGrant(sql, Name(), grant.id, job, run, known, problem)) return false;
  if (known) return true;
  TraceRows taken;
  if (!grant.numbers.empty() &&
      !sql.Query("SELECT number, run FROM parts WHERE job = $1 AND number >= $2 AND number <= $3 "
                 "ORDER BY number",
                 {V::Text(job),
                  V::Integer(*std::min_element(grant.numbers.begin(), grant.numbers.end())),
                  V::Integer(*std::max_element(grant.numbers.begin(), grant.numbers.end()))},
                 taken, problem)) {
    return false;
  }
  for (const TraceRow& part : taken) {
    const int number = static_cast<int>(part[0].AsInteger());
    if (std::find(grant.numbers.begin(), grant.numbers.end(), number) == grant.numbers.end()) {
      continue;
    }
    problem = "the line's trace granted number " + std::to_string(number) + " of the job " + job +
              ", which the station's own trace " + Name() + " holds a part of (run " +
              part[1].AsText() + "): the line's trace is behind this station's (restored from " +
              "a backup?); a number is never used twice";
    return false;
  }
  for (const int number : grant.numbers) {
    if (!sql.Execute("DELETE FROM spare_numbers WHERE job = $1 AND number = $2",
                     {V::Text(job), V::Integer(number)}, problem)) {
      return false;
    }
  }
  if (!AddGrantRow(sql, job, run, grant, problem)) return false;
  for (const int number : grant.numbers) {
    if (!HoldNumber(sql, job, number, grant.id, problem)) return false;
  }
  return MoveNextNumber(sql, job, grant.numbers, problem);
}

}  // namespace qs71prog
