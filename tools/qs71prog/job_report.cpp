#include "job_report.h"

#include <cstdio>

#include "bar_render.h"
#include "library_results.h"

namespace qs71prog {

namespace {

std::string DoneText(const JobDescription& job, const JobOutcome& outcome) {
  std::string steps;
  for (int stage = kFirstStage; stage <= kLastStage; ++stage) {
    if (!job.selection.Selected(stage)) continue;
    steps += (steps.empty() ? "" : ", ") + std::string(StageTitle(stage));
  }
  char text[200];
  if (steps.empty()) {
    std::snprintf(text, sizeof text, "qs71prog: done: identified a %d-byte chip in %s\n",
                  static_cast<int>(outcome.otpSize), FormatDuration(outcome.seconds).c_str());
  } else {
    std::snprintf(text, sizeof text, "qs71prog: done: %s on a %d-byte chip in %s\n",
                  steps.c_str(), static_cast<int>(outcome.otpSize),
                  FormatDuration(outcome.seconds).c_str());
  }
  return text;
}

std::string ExitText(ExitCode exit) {
  const ExitCodeInfo& info = DescribeExit(exit);
  return "exit " + std::to_string(static_cast<int>(info.code)) + " (" + info.name + ")";
}

}  // namespace

std::vector<std::string> OperationNames(const Selection& selection) {
  std::vector<std::string> names;
  for (int stage = kFirstStage; stage <= kLastStage; ++stage) {
    if (selection.Selected(stage)) names.push_back(StageName(stage));
  }
  return names;
}

std::string SummaryLine(const JobDescription& job, const JobOutcome& outcome) {
  if (!outcome.called) return "qs71prog: " + outcome.problem + "; " + ExitText(outcome.exit) + "\n";
  if (outcome.exit == ExitCode::kOk) return DoneText(job, outcome);
  return "qs71prog: failed in " + std::string(PhaseName(outcome.phase)) + ": " +
         DescribeLibraryResult(outcome.result) + " (" + std::to_string(outcome.result) + "); " +
         ExitText(outcome.exit) + "\n";
}

}  // namespace qs71prog
