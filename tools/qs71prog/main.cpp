// qs71prog: the bench's command line for the QS71 programmer. Everything happens in the
// library beside this file; main only reads the command line and hands over.

#include <string>
#include <vector>

#include "cli/name_checks.h"
#include "cli/prog_options.h"
#include "cli/run_files.h"
#include "cli/usage_text.h"
#include "file_system.h"
#include "job/programming_job.h"
#include "job_file/job_commands.h"
#include "job_file/job_run.h"
#include "policy/policy_rules.h"
#include "production/production_run.h"
#include "trace/line_trace.h"
#include "trace/trace_commands.h"
#include "platform/host_system.h"
#include "platform/output_streams.h"

int main(int argc, char** argv) {
  OpenMissingStandardStreams();
  qs71prog::BufferStdoutByLine();
  IgnoreBrokenPipes();
  qs71prog::Console console;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  qs71prog::Options options;
  std::string error;
  switch (qs71prog::ParseArguments(arguments, options, error)) {
    case qs71prog::Command::kHelp:
      console.Out(qs71prog::UsageText());
      return 0;
    case qs71prog::Command::kVersion:
      console.Out(qs71prog::VersionText() + qs71prog::LineTraceLibraries() + "\n");
      return 0;
    case qs71prog::Command::kUsageError:
      console.Err("qs71prog: " + error + "\nTry 'qs71prog --help'.\n");
      return static_cast<int>(qs71prog::ExitCode::kUsage);
    case qs71prog::Command::kRun:
      break;
  }
  if (!qs71prog::CheckNames(options, error)) {
    console.Err("qs71prog: " + error + "\n");
    return static_cast<int>(qs71prog::ExitCode::kUsage);
  }
  // The policy first: its trace and spool are among the run's files.
  const qs71prog::ExitCode ruled = qs71prog::TakeStationPolicy(options, console);
  if (ruled != qs71prog::ExitCode::kOk || options.showPolicy) return static_cast<int>(ruled);
  if (!qs71prog::RunFilesApart(options, error)) {
    console.Err("qs71prog: " + error + "\n");
    return static_cast<int>(qs71prog::ExitCode::kUsage);
  }
  if (!options.makeKey.empty()) return static_cast<int>(qs71prog::MakeKeyCommand(options, console));
  if (!options.makeJob.empty()) return static_cast<int>(qs71prog::MakeJobCommand(options, console));
  if (!options.showJob.empty()) return static_cast<int>(qs71prog::ShowJobCommand(options, console));
  if (!options.exportCsv.empty()) {
    return static_cast<int>(qs71prog::ExportCsvCommand(options, console));
  }
  if (!options.report.empty()) return static_cast<int>(qs71prog::ReportCommand(options, console));
  if (options.clearRefused) {
    return static_cast<int>(qs71prog::ClearRefusedCommand(options, console));
  }
  if (!options.jobFile.empty()) {
    const qs71prog::ExitCode taken = qs71prog::ApplyJobFile(options, console);
    if (taken != qs71prog::ExitCode::kOk) return static_cast<int>(taken);
  }
  if (options.list) return static_cast<int>(qs71prog::ListProgrammersCommand(options, console));
  if (options.production) return static_cast<int>(qs71prog::RunProduction(options, console));
  return static_cast<int>(qs71prog::RunProgrammingJob(options, console));
}
