#include "production/part_display.h"

#include "platform/host_system.h"
#include "production/part_record.h"

namespace qs71prog {

void PartDisplay::Progress(const ProgressEvent& event) {
  const ProgressPoint& point = event.point;
  // A part with no number yet (it may hold this image already) is still the one in the socket.
  const int number = part;
  std::string text = (number > 0 ? "part " + std::to_string(number) : std::string("part")) + ": ";
  if (comparing) {
    text += event.kind == ProgressEventKind::kFailed ? "blank check failed"
            : event.kind == ProgressEventKind::kDone ? "holds this image already"
                                                     : "comparing with the image " +
                                                           std::to_string(point.percent) + "%";
    board.Activity(programmer, text, true);
    return;
  }
  text += StageTitle(point.stage);
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
