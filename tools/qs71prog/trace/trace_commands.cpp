#include "trace/trace_commands.h"

#include <chrono>
#include <memory>

#include "output_writer.h"
#include "production/production_log.h"
#include "trace/run_trace.h"
#include "trace/shift_report.h"

namespace qs71prog {

bool ReadTrace(const Options& options, bool partEvents, TraceContents& contents,
               std::string& name, std::string& problem) {
  std::unique_ptr<TraceStore> store;
  if (!ChooseTraceStore({options.trace, options.policy.spool, options.policy.rootCertificate},
                        store, problem) ||
      !store->OpenToRead(problem)) {
    return false;
  }
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
  const ReportInfo info{name,
                        {{"trace", name},
                         {"selected", selected.empty() ? "every run" : selected},
                         {"written", UtcTimestamp(std::chrono::system_clock::now())},
                         {"qs71prog", QS71PROG_VERSION}}};
  if (!WriteShiftReport(contents, options.report, info, console, problem)) {
    console.Err("qs71prog: " + problem + "\n");
    return ExitCode::kFileError;
  }
  return ExitCode::kOk;
}

}  // namespace qs71prog
