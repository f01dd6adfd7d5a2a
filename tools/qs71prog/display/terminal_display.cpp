#include "display/terminal_display.h"

#include "display/display.h"

namespace qs71prog {

void TerminalDisplay::Progress(const ProgressEvent& event) {
  const ProgressPoint& point = event.point;
  switch (event.kind) {
    case ProgressEventKind::kBegan:
      Wipe();
      barStage = point.stage;
      Draw(RenderBar(point, columns));
      break;
    case ProgressEventKind::kAdvanced:
      if (point.stage == barStage) Draw(RenderBar(point, columns));
      break;
    case ProgressEventKind::kDone:
    case ProgressEventKind::kFailed:
      // A stage may be reported done after the next one began: its line goes above the bar.
      if (point.stage == barStage) {
        barStage = 0;
        bar.clear();
      }
      PrintAbove(event.kind == ProgressEventKind::kDone ? RenderDoneLine(point, columns)
                                                        : RenderFailedLine(point, columns),
                 false);
      break;
  }
}

void TerminalDisplay::LibraryLine(const std::string& text, bool onStderr) {
  PrintAbove(text, onStderr);
}

void TerminalDisplay::Note(const std::string& text) { PrintAbove("qs71prog: " + text, true); }

void TerminalDisplay::Finish(const JobDescription& job, const JobOutcome& outcome) {
  Wipe();
  bar.clear();
  barStage = 0;
  const std::string summary = SummaryLine(job, outcome);
  if (outcome.exit == ExitCode::kOk) {
    sink.Out(summary);
  } else {
    sink.Err(summary);
  }
}

void TerminalDisplay::Draw(const std::string& text) {
  bar = text;
  if (text == shown) return;
  // Overwrite in place; spaces cover what a longer bar left behind.
  std::string line = "\r" + text;
  if (shown.size() > text.size()) line += std::string(shown.size() - text.size(), ' ');
  sink.Out(line);
  shown = text;
}

void TerminalDisplay::Wipe() {
  if (shown.empty()) return;
  sink.Out("\r" + std::string(shown.size(), ' ') + "\r");
  shown.clear();
}

void TerminalDisplay::Restore() {
  if (!bar.empty()) Draw(bar);
}

void TerminalDisplay::PrintAbove(const std::string& line, bool onStderr) {
  Wipe();
  if (onStderr) {
    sink.Err(line + "\n");
  } else {
    sink.Out(line + "\n");
  }
  Restore();
}

}  // namespace qs71prog
