#include "production/part_display.h"

#include "production/part_record.h"

namespace qs71prog {

void PartDisplay::Progress(const ProgressEvent& event) {
  const ProgressPoint& point = event.point;
  std::string text = "part " + std::to_string(part) + ": " + StageTitle(point.stage);
  if (event.kind != ProgressEventKind::kDone) text += " " + std::to_string(point.percent) + "%";
  board.Activity(programmer, text, true);
}

void PartDisplay::LibraryLine(const std::string& text, bool) {
  const std::string id = ChipIdFromLine(text);
  if (!id.empty()) chipId = id;
  story.push_back(text);
}

void PartDisplay::Note(const std::string& text) { board.Message(programmer, text); }

void PartDisplay::Finish(const JobDescription& job, const JobOutcome& outcome) {
  story.push_back(SummaryLine(job, outcome));
  if (!story.back().empty() && story.back().back() == '\n') story.back().pop_back();
  finished(outcome, chipId, story);
}

}  // namespace qs71prog
