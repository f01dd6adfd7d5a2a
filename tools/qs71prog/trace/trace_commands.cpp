#include "trace/trace_commands.h"

#include <chrono>
#include <memory>

#include "output_writer.h"
#include "production/production_log.h"
#include "trace/connection_password.h"
#include "trace/line_trace.h"
#include "trace/run_trace.h"
#include "trace/shift_report.h"
#include "trace/station_spool.h"

namespace qs71prog {

TracePlace TracePlaceOf(const Options& options) {
  return {options.trace, options.policy.spool, options.policy.rootCertificate,
          options.policy.reserveMinutes};
}

bool ReadTrace(const Options& options, bool partEvents, TraceContents& contents,
               std::string& name, std::string& problem) {
  std::unique_ptr<TraceStore> store;
  if (!OpenTraceToRead(TracePlaceOf(options), store, problem)) return false;
  name = store->Name();
  const TraceFilter filter{options.traceRun, options.traceJob, options.since, partEvents};
  if (!store->Load(filter, contents, problem)) return false;
  if (!contents.runs.empty()) return true;
  problem = "the trace " + store->Name() + " holds no run" +
            (options.traceRun.empty() ? "" : " " + options.traceRun) +
            (options.traceJob.empty() ? "" : " of job " + options.traceJob) +
            (options.since.empty() ? "" : " since " + options.since);
  return false;
}

ExitCode ExportCsvCommand(const Options& options, Console& console) {
  TraceContents contents;
  std::string name;
  std::string problem;
  if (!ReadTrace(options, true, contents, name, problem)) {
    console.Err("qs71prog: " + problem + "\n");
    return ExitCode::kFileError;
  }
  std::string text = CsvHeader();
  for (const TraceEvent& event : contents.events) text += CsvRow(event.row);
  if (!WriteOutputText(options.exportCsv, text, &problem)) {
    console.Err("qs71prog: cannot write " + options.exportCsv + ": " + problem + "\n");
    return ExitCode::kFileError;
  }
  return ExitCode::kOk;
}

ExitCode ReportCommand(const Options& options, Console& console) {
  TraceContents contents;
  std::string name;
  std::string problem;
  if (!ReadTrace(options, false, contents, name, problem)) {
    console.Err("qs71prog: " + problem + "\n");
    return ExitCode::kFileError;
  }
  std::string selected;
  if (!options.traceRun.empty()) selected += "run " + options.traceRun;
  if (!options.traceJob.empty()) selected += (selected.empty() ? "" : ", ") + ("job " + options.traceJob);
  if (!options.since.empty()) selected += (selected.empty() ? "" : ", ") + ("since " + options.since);
  ReportInfo info{name,
                  {{"trace", name},
                   {"selected", selected.empty() ? "every run" : selected},
                   {"written", UtcTimestamp(std::chrono::system_clock::now())},
                   {"qs71prog", QS71PROG_VERSION}}};
  // What this station's spool holds of the line's trace that the line refused: not in the
  // figures, and so said beside them.
  const int refused = IsConnectionString(options.trace) ? RefusedInSpool(SpoolFile(TracePlaceOf(options))) : 0;
  if (refused > 0) {
    info.facts.push_back({"refused", RefusedText(refused) + " (set aside in " +
                                         SpoolFile(TracePlaceOf(options)) + ": qs71prog --clear-refused)"});
  }
  if (!WriteShiftReport(contents, options.report, info, console, problem)) {
    console.Err("qs71prog: " + problem + "\n");
    return ExitCode::kFileError;
  }
  return ExitCode::kOk;
}

ExitCode ClearRefusedCommand(const Options& options, Console& console) {
  if (!IsConnectionString(options.trace)) {
    console.Err("qs71prog: --clear-refused needs the line's trace (--trace postgresql://...): "
                "only a line's server refuses events\n");
    return ExitCode::kUsage;
  }
  const std::string spool = SpoolFile(TracePlaceOf(options));
  std::vector<ClearedEntry> cleared;
  std::string problem;
  if (spool.empty() || !ClearRefusedEvents(options.trace, spool, options.policy.rootCertificate, cleared, problem)) {
    console.Err("qs71prog: " + (problem.empty() ? "no station's own trace to clear" : problem) +
                "\n");
    return ExitCode::kFileError;
  }
  int sent = 0;
  for (const ClearedEntry& entry : cleared) {
    const SpoolEntry& e = entry.entry;
    const std::string what = e.kind == "event"     ? "event " + e.ref
                             : e.kind == "numbers" ? "numbers " + e.numbers + " of job " + e.ref
                                                   : "the " + e.kind + " of run " + e.run;
    console.Out(entry.sent ? "sent now: " + what + "\n"
                           : "kept in " + spool + ", cleared: " + what + ": " + e.reason + "\n");
    sent += entry.sent ? 1 : 0;
  }
  console.Out(RefusedText(static_cast<int>(cleared.size())) + ": " + std::to_string(sent) +
              " sent now, " + std::to_string(cleared.size() - sent) + " kept in " + spool +
              " and cleared\n");
  return ExitCode::kOk;
}

}  // namespace qs71prog
