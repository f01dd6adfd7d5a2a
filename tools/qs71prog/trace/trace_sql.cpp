#include "trace/trace_sql.h"

#include <algorithm>
#include <cstdlib>

#include "trace/trace_rows.h"
#include "trace/trace_schema.h"

namespace qs71prog {

namespace {

using V = TraceValue;

// The runs a filter selects, as a sub-query over its parameters $1 to $5.
constexpr const char* kSelectedRuns =
    "SELECT id FROM runs WHERE ($1 = '' OR id = $1) AND ($2 = '' OR job = $2 OR job LIKE $3 "
    "OR job LIKE $4) AND ($5 = '' OR started_at >= $5)";

TraceRow FilterValues(const TraceFilter& filter) {
  const bool prefix = filter.job.size() >= 6;
  return {V::Text(filter.run), V::Text(filter.job), V::Text(prefix ? filter.job + "%" : ""),
          V::Text(prefix ? "image:" + filter.job + "%" : ""), V::Text(filter.since)};
}

}  // namespace

std::string TraceValue::AsText() const {
  switch (kind) {
    case kText: return text;
    case kInteger: return std::to_string(integer);
    case kReal: return std::to_string(real);
    default: return "";
  }
}

int64_t TraceValue::AsInteger() const {
  switch (kind) {
    case kInteger: return integer;
    case kReal: return static_cast<int64_t>(real);
    case kText: return std::strtoll(text.c_str(), nullptr, 10);
    default: return 0;
  }
}

double TraceValue::AsReal() const {
  switch (kind) {
    case kInteger: return static_cast<double>(integer);
    case kReal: return real;
    case kText: return std::strtod(text.c_str(), nullptr);
    default: return -1.0;
  }
}

std::string PartStep(const PartRecord& row) {
  for (int stage = kLastStage; stage >= kFirstStage; --stage) {
    if (row.stepSeconds[stage] >= 0.0) return StageName(stage);
  }
  return "identify";
}

namespace {

// A job as a note names it: its name and the start of its hash.
std::string JobWords(const std::string& hash, const std::string& name) {
  const std::string shown = hash.substr(0, hash.rfind("image:", 0) == 0 ? 18 : 12);
  return name.empty() ? "job " + shown : "job " + name + " (" + shown + ")";
}

}  // namespace

// A trace restored from a backup, or copied back over a newer one, may have next numbers
// below the parts it holds: numbering on from there would give a new part a number taken.
bool SqlTraceStore::Repair(TraceSql& sql, std::string& problem) {
  TraceRows jobs;
  if (!sql.Query("SELECT j.hash, j.name, j.next_number, "
                 "(SELECT max(p.number) FROM parts p WHERE p.job = j.hash), "
                 "(SELECT max(g.number) FROM granted_numbers g WHERE g.job = j.hash), "
                 "(SELECT count(*) FROM spare_numbers s WHERE s.job = j.hash AND EXISTS "
                 "(SELECT 1 FROM parts p WHERE p.job = s.job AND p.number = s.number)) "
                 "FROM jobs j ORDER BY j.hash",
                 {}, jobs, problem)) {
    return false;
  }
  for (const TraceRow& job : jobs) {
    const int64_t next = job[2].AsInteger();
    const int64_t highest = std::max(job[3].AsInteger(), job[4].AsInteger());
    const std::string words = JobWords(job[0].AsText(), job[1].AsText());
    if (highest >= next) {
      if (!sql.Execute("UPDATE jobs SET next_number = $2 WHERE hash = $1 AND next_number < $2",
                       {job[0], V::Integer(highest + 1)}, problem)) {
        return false;
      }
      notes.push_back("the trace " + Name() + " was behind its parts (a backup restored?): " +
                      words + " had " + std::to_string(next) + " as its next number while its " +
                      "numbers go up to " + std::to_string(highest) + "; it numbers on from " +
                      std::to_string(highest + 1));
    }
    if (job[5].AsInteger() == 0) continue;
    if (!sql.Execute("DELETE FROM spare_numbers WHERE job = $1 AND EXISTS (SELECT 1 FROM parts "
                     "p WHERE p.job = spare_numbers.job AND p.number = spare_numbers.number)",
                     {job[0]}, problem)) {
      return false;
    }
    const bool one = job[5].AsInteger() == 1;
    notes.push_back("the trace " + Name() + " held " + job[5].AsText() +
                    (one ? " given-back number of " : " given-back numbers of ") + words +
                    " that parts had taken; " + (one ? "it is" : "they are") +
                    " no longer offered");
  }
  return true;
}

bool SqlTraceStore::UpToDate(TraceSql& sql, const std::vector<std::string>& tables,
                             std::string& problem) {
  const bool traced = std::find(tables.begin(), tables.end(), "qs71_schema") != tables.end();
  if (!traced && !tables.empty()) {
    problem = "the trace " + Name() + " is a database of something else (it has tables and no "
              "qs71 trace): name a new file or an empty database";
    return false;
  }
  int version = 0;
  if (traced) {
    TraceRows rows;
    if (!sql.Query("SELECT version FROM qs71_schema", {}, rows, problem)) return false;
    version = rows.empty() ? 0 : static_cast<int>(rows[0][0].AsInteger());
  }
  if (version > kTraceSchema) {
    problem = "the trace " + Name() + " has schema version " + std::to_string(version) +
              "; this qs71prog reads up to version " + std::to_string(kTraceSchema) +
              ": use a newer qs71prog";
    return false;
  }
  for (int next = version + 1; next <= kTraceSchema; ++next) {
    for (const std::string& statement : TraceMigration(next)) {
      if (!sql.Execute(statement, {}, problem)) return false;
    }
    if (!sql.Execute("UPDATE qs71_schema SET version = $1", {V::Integer(next)}, problem)) {
      return false;
    }
  }
  notes.clear();
  return Repair(sql, problem);
}

bool SqlTraceStore::Readable(TraceSql& sql, std::string& problem) {
  TraceRows rows;
  std::string why;
  if (!sql.Query("SELECT version FROM qs71_schema", {}, rows, why)) {
    problem = "the trace " + Name() + " is not a qs71 trace (" + why + ")";
    return false;
  }
  const int version = rows.empty() ? 0 : static_cast<int>(rows[0][0].AsInteger());
  if (version == kTraceSchema) return true;
  problem = "the trace " + Name() + " has schema version " + std::to_string(version) +
            "; this qs71prog reads version " + std::to_string(kTraceSchema) +
            (version > kTraceSchema ? ": use a newer qs71prog"
                                    : ": run a production on it once to bring it up to date");
  return false;
}

bool SqlTraceStore::Lot(const std::string& job, LotState& state, std::string& problem) {
  state = {};
  return ReadOnce([&](TraceSql& sql, std::string& why) { return LotIn(sql, job, state, why); },
                  problem);
}

bool SqlTraceStore::Unfinished(const std::string& host, const std::string& run,
                               std::vector<TracePart>& parts, std::vector<long>& pids,
                               std::string& problem) {
  parts.clear();
  pids.clear();
  return Transaction(
      [&](TraceSql& sql, std::string& why) {
        TraceRows rows;
        if (!sql.Query(std::string("SELECT ") + kPartColumns + ", run_pid FROM (SELECT p.*, "
                           "r.pid AS run_pid, r.host AS run_host FROM parts p JOIN runs r ON "
                           "r.id = p.run) AS q WHERE ended_at IS NULL AND run_host = $1 AND "
                           "run <> $2 ORDER BY started_at, job, number",
                       {V::Text(host), V::Text(run)}, rows, why)) {
          return false;
        }
        for (const TraceRow& values : rows) {
          parts.push_back(PartOf(values));
          pids.push_back(PidOf(values[17], values[2].AsText()));
        }
        return true;
      },
      problem);
}

bool SqlTraceStore::OpenGrants(const std::string& host, const std::string& run,
                               std::vector<OpenGrant>& grants, std::string& problem) {
  grants.clear();
  return Transaction(
      [&](TraceSql& sql, std::string& why) {
        TraceRows rows;
        if (!sql.Query("SELECT g.id, g.job, g.run, r.pid, r.ended_at "
                       "FROM grants g JOIN runs r ON r.id = g.run WHERE g.returned_at IS NULL "
                       "AND r.host = $1 AND r.id <> $2 ORDER BY g.granted_at, g.id",
                       {V::Text(host), V::Text(run)}, rows, why)) {
          return false;
        }
        for (const TraceRow& values : rows) {
          OpenGrant grant{values[0].AsText(), values[1].AsText(), values[2].AsText(),
                          PidOf(values[3], values[2].AsText()),
                          values[4].kind != TraceValue::kNull, {}};
          TraceRows unused;
          if (!sql.Query("SELECT g.number FROM granted_numbers g WHERE g.grant_id = $1 AND NOT "
                         "EXISTS (SELECT 1 FROM parts p WHERE p.job = g.job AND p.number = "
                         "g.number) AND NOT EXISTS (SELECT 1 FROM spare_numbers s WHERE s.job "
                         "= g.job AND s.number = g.number) ORDER BY g.number",
                         {values[0]}, unused, why)) {
            return false;
          }
          for (const TraceRow& number : unused) {
            grant.unused.push_back(static_cast<int>(number[0].AsInteger()));
          }
          grants.push_back(grant);
        }
        return true;
      },
      problem);
}

bool SqlTraceStore::Load(const TraceFilter& filter, TraceContents& contents,
                         std::string& problem) {
  contents = {};
  const std::string runs = kSelectedRuns;
  // A numbered part's own events repeat its row of the parts table; the others are all there
  // is of an untouched or ALREADY part.
  const std::string events = filter.partEvents
                                 ? ""
                                 : " AND NOT (e.kind = 'started' OR (e.kind = 'part' AND "
                                   "e.part > 0))";
  return Transaction(
      [&](TraceSql& sql, std::string& why) {
        TraceRows jobs, runRows, parts, eventRows;
        if (!sql.Query(std::string("SELECT ") + kJobColumns + " FROM jobs WHERE hash IN "
                           "(SELECT job FROM runs WHERE id IN (" + runs + ")) ORDER BY hash",
                       FilterValues(filter), jobs, why) ||
            !sql.Query(std::string("SELECT ") + kRunColumns + " FROM runs WHERE id IN (" + runs +
                           ") ORDER BY started_at, id",
                       FilterValues(filter), runRows, why) ||
            !sql.Query(std::string("SELECT ") + kPartColumns + " FROM parts WHERE run IN (" +
                           runs + ") ORDER BY job, number",
                       FilterValues(filter), parts, why) ||
            !sql.Query("SELECT " + EventColumns("e.") + " FROM events e JOIN runs r ON r.id = "
                       "e.run WHERE e.run IN (" + runs + ")" + events +
                           " ORDER BY r.started_at, r.id, e.seq",
                       FilterValues(filter), eventRows, why)) {
          return false;
        }
        for (const TraceRow& values : jobs) contents.jobs.push_back(JobOf(values));
        for (const TraceRow& values : runRows) contents.runs.push_back(RunOf(values));
        for (const TraceRow& values : parts) contents.parts.push_back(PartOf(values));
        for (const TraceRow& values : eventRows) contents.events.push_back(EventOf(values));
        for (const TraceJob& job : contents.jobs) {
          contents.lots.emplace_back();
          if (!LotIn(sql, job.hash, contents.lots.back(), why)) return false;
        }
        return true;
      },
      problem);
}

}  // namespace qs71prog
