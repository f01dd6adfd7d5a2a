#include "trace/trace_sql.h"

#include <algorithm>
#include <cstdlib>

#include "trace/trace_schema.h"

namespace qs71prog {

namespace {

using V = TraceValue;

// The statement that adds an event, its columns in TraceEventColumns' order after id, job
// and seq; it gives back the id only when the event is new.
std::string InsertEventSql() {
  std::string names = "id, job, seq";
  std::string places = "$1, $2, $3";
  int index = 3;
  for (const std::string& column : TraceEventColumns()) {
    names += ", " + column;
    places += ", $" + std::to_string(++index);
  }
  return "INSERT INTO events (" + names + ") VALUES (" + places +
         ") ON CONFLICT (id) DO NOTHING RETURNING id";
}

TraceRow EventValues(const TraceEvent& event) {
  const PartRecord& row = event.row;
  return {V::Text(event.id), V::Text(event.job), V::Integer(event.seq), V::Text(row.time),
          V::Text(row.host), V::Integer(row.programmer), V::Text(row.programmerKey),
          V::Integer(row.part), V::Text(row.chipId), V::Integer(row.otpSize), V::Text(row.image),
          V::Text(row.sha256), V::Text(row.result), V::Integer(row.exit),
          V::Seconds(row.stepSeconds[1]), V::Seconds(row.stepSeconds[2]),
          V::Seconds(row.stepSeconds[3]), V::Text(BlocksText(row.blocks)), V::Text(row.programmerPath),
          V::Text(row.programmerSerial), V::Text(row.status), V::Real(row.seconds),
          V::Text(row.run), V::Text(row.station), V::Text(row.operatorName), V::Integer(row.code),
          V::Text(row.event)};
}

// An events row read back, in the order EventValues writes it.
TraceEvent EventOf(const TraceRow& values) {
  TraceEvent event;
  event.id = values[0].AsText();
  event.job = values[1].AsText();
  event.seq = static_cast<int>(values[2].AsInteger());
  PartRecord& row = event.row;
  row.time = values[3].AsText();
  row.host = values[4].AsText();
  row.programmer = static_cast<int>(values[5].AsInteger());
  row.programmerKey = values[6].AsText();
  row.part = static_cast<int>(values[7].AsInteger());
  row.chipId = values[8].AsText();
  row.otpSize = static_cast<int32_t>(values[9].AsInteger());
  row.image = values[10].AsText();
  row.sha256 = values[11].AsText();
  row.result = values[12].AsText();
  row.exit = static_cast<int>(values[13].AsInteger());
  for (int stage = 1; stage <= 3; ++stage) row.stepSeconds[stage] = values[13 + stage].AsReal();
  row.blocks = BlocksOf(values[17].AsText());
  row.programmerPath = values[18].AsText();
  row.programmerSerial = values[19].AsText();
  row.status = values[20].AsText();
  row.seconds = values[21].AsReal();
  row.run = values[22].AsText();
  row.station = values[23].AsText();
  row.operatorName = values[24].AsText();
  row.code = static_cast<int32_t>(values[25].AsInteger());
  row.event = values[26].AsText();
  return event;
}

constexpr const char* kPartColumns =
    "job, number, run, programmer, chip_id, result, status, exit, code, seconds, "
    "blank_check_s, write_s, verify_s, blocks, started_at, ended_at";

TracePart PartOf(const TraceRow& values) {
  TracePart part;
  part.job = values[0].AsText();
  part.number = static_cast<int>(values[1].AsInteger());
  part.run = values[2].AsText();
  part.programmer = values[3].AsText();
  part.chipId = values[4].AsText();
  part.result = values[5].AsText();
  part.status = values[6].AsText();
  part.exit = static_cast<int>(values[7].AsInteger());
  part.code = static_cast<int>(values[8].AsInteger());
  part.seconds = values[9].AsReal();
  for (int stage = 1; stage <= 3; ++stage) part.stepSeconds[stage] = values[9 + stage].AsReal();
  part.blocks = BlocksOf(values[13].AsText());
  part.startedAt = values[14].AsText();
  part.endedAt = values[15].AsText();
  return part;
}

constexpr const char* kRunColumns =
    "id, job, station, operator_name, host, version, started_at, ended_at, exit, how";

TraceRun RunOf(const TraceRow& values) {
  return {values[0].AsText(), values[1].AsText(), values[2].AsText(), values[3].AsText(),
          values[4].AsText(), values[5].AsText(), values[6].AsText(), values[7].AsText(),
          static_cast<int>(values[8].AsInteger()), values[9].AsText()};
}

TraceJob JobOf(const TraceRow& values) {
  return {values[0].AsText(), values[1].AsText(), values[2].AsText(), values[3].AsText(),
          values[4].AsText(), values[5].AsText(), static_cast<int>(values[6].AsInteger())};
}

// The runs a filter selects, as a sub-query over its parameters $1 to $5.
constexpr const char* kSelectedRuns =
    "SELECT id FROM runs WHERE ($1 = '' OR id = $1) AND ($2 = '' OR job = $2 OR job LIKE $3 "
    "OR job LIKE $4) AND ($5 = '' OR started_at >= $5)";

TraceRow FilterValues(const TraceFilter& filter) {
  const bool prefix = filter.job.size() >= 6;
  return {V::Text(filter.run), V::Text(filter.job), V::Text(prefix ? filter.job + "%" : ""),
          V::Text(prefix ? "image:" + filter.job + "%" : ""), V::Text(filter.since)};
}

bool ReadJobState(TraceSql& sql, const std::string& job, int& lot, int& next,
                  std::string& problem) {
  TraceRows rows;
  if (!sql.Query("SELECT lot, next_number FROM jobs WHERE hash = $1", {V::Text(job)}, rows,
                 problem)) {
    return false;
  }
  if (rows.empty()) {
    problem = "the job " + job + " is not in the trace";
    return false;
  }
  lot = static_cast<int>(rows[0][0].AsInteger());
  next = static_cast<int>(rows[0][1].AsInteger());
  return true;
}

bool CountMade(TraceSql& sql, const std::string& job, NumberGrant& grant, std::string& problem) {
  TraceRows made;
  TraceRows spare;
  if (!sql.Query("SELECT COUNT(*) FROM parts WHERE job = $1", {V::Text(job)}, made, problem) ||
      !sql.Query("SELECT COUNT(*) FROM spare_numbers WHERE job = $1", {V::Text(job)}, spare,
                 problem)) {
    return false;
  }
  grant.made = static_cast<int>(made[0][0].AsInteger());
  int next = 0;
  if (!ReadJobState(sql, job, grant.lot, next, problem)) return false;
  grant.exhausted = grant.lot > 0 && next > grant.lot && spare[0][0].AsInteger() == 0;
  return true;
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
  return true;
}

bool SqlTraceStore::BeginRun(const TraceJob& job, const TraceRun& run, std::string& problem) {
  return Transaction(
      [&](TraceSql& sql, std::string& why) {
        return sql.Execute("INSERT INTO jobs (hash, name, work_order, lot, signer, image, "
                           "image_sha256, next_number) VALUES ($1, $2, $3, $4, $5, $6, $7, 1) "
                           "ON CONFLICT (hash) DO NOTHING",
                           {V::Text(job.hash), V::Text(job.name), V::Text(job.workOrder),
                            V::Integer(job.lot), V::Text(job.signer), V::Text(job.image),
                            V::Text(job.imageSha256)},
                           why) &&
               sql.Execute("INSERT INTO runs (id, job, station, operator_name, host, version, "
                           "started_at) VALUES ($1, $2, $3, $4, $5, $6, $7) "
                           "ON CONFLICT (id) DO NOTHING",
                           {V::Text(run.id), V::Text(run.job), V::Text(run.station),
                            V::Text(run.operatorName), V::Text(run.host), V::Text(run.version),
                            V::Text(run.startedAt)},
                           why);
      },
      problem);
}

bool SqlTraceStore::TakeNumbers(const std::string& job, int want, int floor, NumberGrant& grant,
                                std::string& problem) {
  grant = {};
  return Transaction(
      [&](TraceSql& sql, std::string& why) {
        // The job's row is locked first: a server lets one station at a time past here.
        int next = 0;
        TraceRows spares;
        if (!sql.Execute("UPDATE jobs SET next_number = next_number WHERE hash = $1",
                         {V::Text(job)}, why) ||
            !ReadJobState(sql, job, grant.lot, next, why) ||
            !sql.Query("SELECT number FROM spare_numbers WHERE job = $1 ORDER BY number LIMIT $2",
                       {V::Text(job), V::Integer(want)}, spares, why)) {
          return false;
        }
        for (const TraceRow& spare : spares) {
          grant.numbers.push_back(static_cast<int>(spare[0].AsInteger()));
          if (!sql.Execute("DELETE FROM spare_numbers WHERE job = $1 AND number = $2",
                           {V::Text(job), spare[0]}, why)) {
            return false;
          }
        }
        next = std::max(next, floor + 1);
        while (static_cast<int>(grant.numbers.size()) < want && (grant.lot == 0 || next <= grant.lot)) {
          grant.numbers.push_back(next++);
        }
        return sql.Execute("UPDATE jobs SET next_number = $2 WHERE hash = $1",
                           {V::Text(job), V::Integer(next)}, why) &&
               CountMade(sql, job, grant, why);
      },
      problem);
}

bool SqlTraceStore::GiveBack(const std::string& job, const std::vector<int>& numbers,
                             std::string& problem) {
  if (numbers.empty()) return true;
  return Transaction(
      [&](TraceSql& sql, std::string& why) {
        for (const int number : numbers) {
          // Only a number no part took: a give-back repeated after a part took the number
          // must not offer it again.
          if (!sql.Execute("INSERT INTO spare_numbers (job, number) SELECT $1, $2 WHERE NOT "
                           "EXISTS (SELECT 1 FROM parts WHERE job = $1 AND number = $2) "
                           "ON CONFLICT (job, number) DO NOTHING",
                           {V::Text(job), V::Integer(number)}, why)) {
            return false;
          }
        }
        return true;
      },
      problem);
}

bool SqlTraceStore::Record(const TraceEvent& event, std::string& problem) {
  const PartRecord& row = event.row;
  return Transaction(
      [&](TraceSql& sql, std::string& why) {
        TraceRows added;
        if (!sql.Query(InsertEventSql(), EventValues(event), added, why)) return false;
        if (added.empty() || row.part <= 0) return true;  // delivered before, or no part
        if (row.event == "started") {
          return sql.Execute("INSERT INTO parts (job, number, run, programmer, chip_id, "
                             "started_at) VALUES ($1, $2, $3, $4, $5, $6) "
                             "ON CONFLICT (job, number) DO NOTHING",
                             {V::Text(event.job), V::Integer(row.part), V::Text(row.run),
                              V::Text(row.programmerKey), V::Text(row.chipId), V::Text(row.time)},
                             why);
        }
        if (row.event != "part") return true;
        return sql.Execute(
            "UPDATE parts SET result = $3, status = $4, exit = $5, code = $6, seconds = $7, "
            "blank_check_s = $8, write_s = $9, verify_s = $10, blocks = $11, ended_at = $12 "
            "WHERE job = $1 AND number = $2",
            {V::Text(event.job), V::Integer(row.part), V::Text(row.result), V::Text(row.status),
             V::Integer(row.exit), V::Integer(row.code), V::Real(row.seconds),
             V::Seconds(row.stepSeconds[1]), V::Seconds(row.stepSeconds[2]),
             V::Seconds(row.stepSeconds[3]), V::Text(BlocksText(row.blocks)), V::Text(row.time)},
            why);
      },
      problem);
}

bool SqlTraceStore::EndRun(const TraceRun& run, std::string& problem) {
  return Transaction(
      [&](TraceSql& sql, std::string& why) {
        return sql.Execute("UPDATE runs SET ended_at = $2, exit = $3, how = $4 WHERE id = $1",
                           {V::Text(run.id), V::Text(run.endedAt), V::Integer(run.exit),
                            V::Text(run.how)},
                           why);
      },
      problem);
}

bool SqlTraceStore::Lot(const std::string& job, NumberGrant& state, std::string& problem) {
  state = {};
  return Transaction([&](TraceSql& sql, std::string& why) { return CountMade(sql, job, state, why); },
                     problem);
}

bool SqlTraceStore::Unfinished(const std::string& host, const std::string& run,
                               std::vector<TracePart>& parts, std::string& problem) {
  parts.clear();
  return Transaction(
      [&](TraceSql& sql, std::string& why) {
        TraceRows rows;
        if (!sql.Query(std::string("SELECT ") + kPartColumns + " FROM parts WHERE ended_at IS NULL "
                           "AND run IN (SELECT id FROM runs WHERE host = $1 AND id <> $2) "
                           "ORDER BY started_at, job, number",
                       {V::Text(host), V::Text(run)}, rows, why)) {
          return false;
        }
        for (const TraceRow& values : rows) parts.push_back(PartOf(values));
        return true;
      },
      problem);
}

bool SqlTraceStore::Load(const TraceFilter& filter, TraceContents& contents,
                         std::string& problem) {
  contents = {};
  const std::string runs = kSelectedRuns;
  return Transaction(
      [&](TraceSql& sql, std::string& why) {
        TraceRows jobs, runRows, parts, events;
        std::string eventColumns = "e.id, e.job, e.seq";
        for (const std::string& column : TraceEventColumns()) eventColumns += ", e." + column;
        if (!sql.Query("SELECT hash, name, work_order, signer, image, image_sha256, lot FROM jobs "
                       "WHERE hash IN (SELECT job FROM runs WHERE id IN (" + runs + ")) "
                       "ORDER BY hash",
                       FilterValues(filter), jobs, why) ||
            !sql.Query(std::string("SELECT ") + kRunColumns + " FROM runs WHERE id IN (" + runs +
                           ") ORDER BY started_at, id",
                       FilterValues(filter), runRows, why) ||
            !sql.Query(std::string("SELECT ") + kPartColumns + " FROM parts WHERE run IN (" +
                           runs + ") ORDER BY job, number",
                       FilterValues(filter), parts, why) ||
            !sql.Query("SELECT " + eventColumns + " FROM events e JOIN runs r ON r.id = e.run "
                       "WHERE e.run IN (" + runs + ")" +
                           (filter.partEvents ? "" : " AND e.kind NOT IN ('started', 'part')") +
                           " ORDER BY r.started_at, r.id, e.seq",
                       FilterValues(filter), events, why)) {
          return false;
        }
        for (const TraceRow& values : jobs) contents.jobs.push_back(JobOf(values));
        for (const TraceRow& values : runRows) contents.runs.push_back(RunOf(values));
        for (const TraceRow& values : parts) contents.parts.push_back(PartOf(values));
        for (const TraceRow& values : events) contents.events.push_back(EventOf(values));
        return true;
      },
      problem);
}

}  // namespace qs71prog
