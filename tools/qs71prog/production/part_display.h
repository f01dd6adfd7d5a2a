#pragma once

#include <functional>
#include <string>
#include <vector>

#include "display/display.h"
#include "display/production_display.h"

namespace qs71prog {

// The display of one part's job in a production run. It keeps the job's story (the library's
// lines, qs71prog's notes, the summary) for a failed part's verdict, passes the progress on as
// the loop's activity (the step under the programmer's BUSY), and hands the outcome to
// `finished`. part is 0 for a part that has no number yet.
class PartDisplay : public Display {
 public:
  using Finished =
      std::function<void(const JobOutcome& outcome, const std::vector<std::string>& story)>;

  PartDisplay(ProductionDisplay& board, int programmer, int part, Finished finished)
      : board(board), programmer(programmer), part(part), finished(std::move(finished)) {}

  void Begin(const JobDescription&) override {}
  void Progress(const ProgressEvent& event) override;
  void LibraryLine(const std::string& text, bool onStderr) override;
  void Note(const std::string& text) override;
  void SearchingBlocks() override;
  void Finish(const JobDescription& job, const JobOutcome& outcome) override;

 private:
  ProductionDisplay& board;
  int programmer;
  int part;
  Finished finished;
  std::vector<std::string> story;
};

}  // namespace qs71prog
