#include "display/plain_display.h"

#include "display/display.h"

namespace qs71prog {

void PlainDisplay::Progress(const ProgressEvent& event) {
  const ProgressPoint& point = event.point;
  int& next = nextPercent[point.stage];
  switch (event.kind) {
    case ProgressEventKind::kBegan:
      next = kStepPercent;
      break;
    case ProgressEventKind::kAdvanced:
      // 100 percent is left to the done line, which also gives the time taken.
      if (point.percent < next || point.percent >= 100) break;
      sink.Out(RenderPlainLine(point) + "\n");
      next = (point.percent / kStepPercent + 1) * kStepPercent;
      break;
    case ProgressEventKind::kDone:
      sink.Out(RenderPlainLine(point) + "  done in " + FormatDuration(point.elapsed) + "\n");
      break;
    case ProgressEventKind::kFailed:
      sink.Out(RenderPlainLine(point) + "  failed\n");
      break;
  }
}

void PlainDisplay::LibraryLine(const std::string& text, bool onStderr) {
  if (onStderr) {
    sink.Err(text + "\n");
  } else {
    sink.Out(text + "\n");
  }
}

void PlainDisplay::Note(const std::string& text) { sink.Err("qs71prog: " + text + "\n"); }

void PlainDisplay::Finish(const JobDescription& job, const JobOutcome& outcome) {
  const std::string summary = SummaryLine(job, outcome);
  if (outcome.exit == ExitCode::kOk) {
    sink.Out(summary);
  } else {
    sink.Err(summary);
  }
}

}  // namespace qs71prog
