// What a run records: its job and itself, every event, and its end. A row that is already
// there is looked at, never passed over: the same row again (a forward repeated after a lost
// answer) changes nothing, and a different row under its key is a conflict that names both.
#include <string>

#include "trace/trace_rows.h"
#include "trace/trace_sql.h"

namespace qs71prog {

namespace {

using V = TraceValue;

std::string Conflict(const std::string& trace, const std::string& what, const std::string& held,
                     const std::string& sent) {
  return "the trace " + trace + " already holds " + what + " as " + held + ", and this one is " +
         sent + ": a row of the trace is never written over";
}

// What fixes a job: for a job file all of it (its hash is the file's); for an image alone its
// image and its lot, the rest being the command line's labels of the day.
std::string JobFacts(const TraceJob& job) {
  const bool file = job.hash.rfind("image:", 0) != 0;
  return "\"image " + job.imageSha256.substr(0, 12) + ", lot " + std::to_string(job.lot) +
         (file ? ", name " + job.name + ", work order " + job.workOrder + ", signer " +
                     (job.signer.empty() ? "none" : job.signer)
               : "") +
         "\"";
}

bool AddJob(TraceSql& sql, const std::string& trace, const TraceJob& job, std::string& problem) {
  TraceRows added, held;
  if (!sql.Query("INSERT INTO jobs (hash, name, work_order, lot, signer, image, image_sha256, "
                 "next_number) VALUES ($1, $2, $3, $4, $5, $6, $7, 1) "
                 "ON CONFLICT (hash) DO NOTHING RETURNING hash",
                 {V::Text(job.hash), V::Text(job.name), V::Text(job.workOrder), V::Integer(job.lot),
                  V::Text(job.signer), V::Text(job.image), V::Text(job.imageSha256)},
                 added, problem)) {
    return false;
  }
  if (!added.empty()) return true;
  if (!sql.Query(std::string("SELECT ") + kJobColumns + " FROM jobs WHERE hash = $1",
                 {V::Text(job.hash)}, held, problem) ||
      held.empty()) {
    return false;
  }
  TraceJob there = JobOf(held[0]);
  there.image = job.image;  // the name a run gives its image is its own
  if (JobFacts(there) == JobFacts(job)) return true;
  problem = Conflict(trace, "the job " + job.hash, JobFacts(there), JobFacts(job));
  return false;
}

bool SameBeginning(const TraceRun& a, const TraceRun& b) {
  return a.id == b.id && a.job == b.job && a.station == b.station &&
         a.operatorName == b.operatorName && a.host == b.host && a.version == b.version &&
         a.startedAt == b.startedAt && a.pid == b.pid;
}

bool HeldRun(TraceSql& sql, const std::string& id, TraceRun& run, std::string& problem) {
  TraceRows rows;
  if (!sql.Query(std::string("SELECT ") + kRunColumns + " FROM runs WHERE id = $1",
                 {V::Text(id)}, rows, problem)) {
    return false;
  }
  if (!rows.empty()) run = RunOf(rows[0]);
  return !rows.empty();
}

bool HeldPart(TraceSql& sql, const std::string& job, int number, TracePart& part,
              bool& found, std::string& problem) {
  TraceRows rows;
  if (!sql.Query(std::string("SELECT ") + kPartColumns + " FROM parts WHERE job = $1 AND "
                     "number = $2",
                 {V::Text(job), V::Integer(number)}, rows, problem)) {
    return false;
  }
  found = !rows.empty();
  if (found) part = PartOf(rows[0]);
  return true;
}

TracePart PartOfEvent(const TraceEvent& event) {
  TracePart part;
  part.job = event.job;
  part.number = event.row.part;
  part.run = event.row.run;
  part.programmer = event.row.programmerKey;
  part.result = event.row.result;
  part.startedAt = event.row.time;
  return part;
}

// A verdict's values: the part's job and number, its verdict ($3 to $13), and the run,
// programmer and chip it belongs to ($14 to $16).
TraceRow VerdictValues(const TraceEvent& event) {
  const PartRecord& row = event.row;
  return {V::Text(event.job), V::Integer(row.part), V::Text(row.result), V::Text(row.status),
          V::Integer(row.exit), V::Integer(row.code), V::Real(row.seconds),
          V::Seconds(row.stepSeconds[1]), V::Seconds(row.stepSeconds[2]),
          V::Seconds(row.stepSeconds[3]), V::Text(BlocksText(row.blocks)), V::Text(row.time),
          V::Text(PartStep(row)), V::Text(row.run), V::Text(row.programmerKey),
          V::Text(row.chipId)};
}

}  // namespace

bool SqlTraceStore::BeginRunIn(TraceSql& sql, const TraceJob& job, const TraceRun& run,
                               std::string& problem) {
  TraceRows added;
  if (!AddJob(sql, Name(), job, problem) ||
      !sql.Query("INSERT INTO runs (id, job, station, operator_name, host, version, started_at, "
                 "pid) VALUES ($1, $2, $3, $4, $5, $6, $7, $8) ON CONFLICT (id) DO NOTHING "
                 "RETURNING id",
                 {V::Text(run.id), V::Text(run.job), V::Text(run.station),
                  V::Text(run.operatorName), V::Text(run.host), V::Text(run.version),
                  V::Text(run.startedAt), V::Integer(run.pid)},
                 added, problem)) {
    return false;
  }
  TraceRun there;
  if (!added.empty() || !HeldRun(sql, run.id, there, problem)) return !added.empty();
  if (SameBeginning(there, run)) return true;
  problem = Conflict(Name(), "the run " + run.id, RunText(there), RunText(run));
  return false;
}

bool SqlTraceStore::RecordIn(TraceSql& sql, const TraceEvent& event, std::string& problem) {
  TraceRows added, held;
  if (!sql.Query("INSERT INTO events (" + EventColumns() + ") VALUES ($1, $2, $3, $4, $5, $6, "
                 "$7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19, $20, $21, $22, "
                 "$23, $24, $25, $26, $27) ON CONFLICT (id) DO NOTHING RETURNING id",
                 EventValues(event), added, problem)) {
    return false;
  }
  if (!added.empty()) return event.row.part <= 0 || RecordPart(sql, event, problem);
  if (!sql.Query("SELECT " + EventColumns() + " FROM events WHERE id = $1", {V::Text(event.id)},
                 held, problem) ||
      held.empty()) {
    return false;
  }
  const TraceEvent there = EventOf(held[0]);
  if (EventValues(there) == EventValues(event)) return true;  // delivered before
  problem = Conflict(Name(), "the event " + event.id, EventText(there), EventText(event));
  return false;
}

// A numbered part's row, as its event has it: made by "started", judged by "part". A row of
// another run under the number is a conflict, never written over.
bool SqlTraceStore::RecordPart(TraceSql& sql, const TraceEvent& event, std::string& problem) {
  const PartRecord& row = event.row;
  TraceRows done;
  if (row.event == "started") {
    if (!sql.Query("INSERT INTO parts (job, number, run, programmer, chip_id, started_at) "
                   "VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (job, number) DO NOTHING "
                   "RETURNING number",
                   {V::Text(event.job), V::Integer(row.part), V::Text(row.run),
                    V::Text(row.programmerKey), V::Text(row.chipId), V::Text(row.time)},
                   done, problem)) {
      return false;
    }
  } else if (row.event == "part") {
    // Only the part this run started, and not yet judged, or one that a run of this station
    // that stopped without ending (a crash, ended since by a later run) left under way on the
    // same programmer: never another station's, nor a run's that may still be going.
    if (!sql.Query("UPDATE parts SET result = $3, status = $4, exit = $5, code = $6, "
                   "seconds = $7, blank_check_s = $8, write_s = $9, verify_s = $10, "
                   "blocks = $11, ended_at = $12, step = $13, chip_id = CASE WHEN chip_id = '' "
                   "THEN $16 ELSE chip_id END WHERE job = $1 AND number = $2 AND (run = $14 OR "
                   "run IN (SELECT left_by.id FROM runs left_by JOIN runs this_run ON "
                   "this_run.id = $14 WHERE left_by.station = this_run.station AND "
                   "left_by.host = this_run.host AND left_by.how = '" +
                       std::string(kStoppedWithoutEnd) + "')) AND "
                   "programmer = $15 AND result IS NULL RETURNING number",
                   VerdictValues(event), done, problem)) {
      return false;
    }
  } else {
    return true;
  }
  if (!done.empty()) return true;
  TracePart there;
  bool found = false;
  if (!HeldPart(sql, event.job, row.part, there, found, problem)) return false;
  if (found) {
    problem = Conflict(Name(), "part " + std::to_string(row.part) + " of the job " + event.job,
                       PartText(there), PartText(PartOfEvent(event)) + " (event " + event.id + ")");
    return false;
  }
  // A verdict without a started part: its job ended before the write (a blank check that
  // found the part written, a chip that failed its checks). It is an attempt all the same.
  return sql.Execute("INSERT INTO parts (job, number, result, status, exit, code, seconds, "
                     "blank_check_s, write_s, verify_s, blocks, ended_at, step, run, "
                     "programmer, chip_id, started_at) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, "
                     "$9, $10, $11, $12, $13, $14, $15, $16, $12)",
                     VerdictValues(event), problem);
}

bool SqlTraceStore::EndRunIn(TraceSql& sql, const TraceRun& run, std::string& problem) {
  TraceRows ended;
  if (!sql.Query("UPDATE runs SET ended_at = $2, exit = $3, how = $4 WHERE id = $1 AND "
                 "ended_at IS NULL RETURNING id",
                 {V::Text(run.id), V::Text(run.endedAt), V::Integer(run.exit), V::Text(run.how)},
                 ended, problem)) {
    return false;
  }
  TraceRun there;
  if (!ended.empty()) return true;
  if (!HeldRun(sql, run.id, there, problem)) {
    if (problem.empty()) problem = "the trace " + Name() + " holds no run " + run.id + " to end";
    return false;
  }
  if (there.endedAt == run.endedAt && there.exit == run.exit && there.how == run.how) return true;
  // A run that stopped without an end is ended once, by the first later run that found it.
  if (there.how == kStoppedWithoutEnd && run.how == kStoppedWithoutEnd) return true;
  problem = Conflict(Name(), "the end of the run " + run.id,
                     "\"" + there.how + ", exit " + std::to_string(there.exit) + " at " +
                         there.endedAt + "\"",
                     "\"" + run.how + ", exit " + std::to_string(run.exit) + " at " +
                         run.endedAt + "\"");
  return false;
}

bool SqlTraceStore::BeginRun(const TraceJob& job, const TraceRun& run, std::string& problem) {
  return Transaction(
      [&](TraceSql& sql, std::string& why) { return BeginRunIn(sql, job, run, why); }, problem);
}

bool SqlTraceStore::Record(const TraceEvent& event, std::string& problem) {
  return Transaction([&](TraceSql& sql, std::string& why) { return RecordIn(sql, event, why); },
                     problem);
}

bool SqlTraceStore::EndRun(const TraceRun& run, std::string& problem) {
  return Transaction([&](TraceSql& sql, std::string& why) { return EndRunIn(sql, run, why); },
                     problem);
}

}  // namespace qs71prog
