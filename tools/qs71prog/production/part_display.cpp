#include "production/part_display.h"

#include "platform/host_system.h"
#include "production/part_record.h"

namespace qs71prog {

void PartDisplay::Progress(const ProgressEvent& event) {
  const ProgressPoint& point = event.point;
  // A part with no number yet (it may hold this image already) is still the one in the socket.
  std::string text = (part > 0 ? "part " + std::to_string(part) : std::string("part")) + ": " +
                     StageTitle(point.stage);
  switch (event.kind) {
    case ProgressEventKind::kDone:
      text += " done";
      break;
    case ProgressEventKind::kFailed:
      text += " failed";
      break;
    default:
      text += " " + std::to_string(point.percent) + "%";
  }
  board.Activity(programmer, text, true);
}

void PartDisplay::LibraryLine(const std::string& text, bool) { story.push_back(text); }

// In order with the library's lines as a rule; at once after an interruption, whose answer says what
// happens next and cannot wait for the verdict.
void PartDisplay::Note(const std::string& text) {
  if (InterruptCount() > 0) {
    board.Message(programmer, text);
  } else {
    story.push_back("qs71prog: " + text);
  }
}

void PartDisplay::SearchingBlocks() { board.Checking(programmer, part); }

void PartDisplay::Finish(const JobDescription& job, const JobOutcome& outcome) {
  story.push_back(SummaryLine(job, outcome));
  if (!story.back().empty() && story.back().back() == '\n') story.back().pop_back();
  finished(outcome, story);
}

}  // namespace qs71prog
