#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "display/display.h"
#include "display/production_display.h"

namespace qs71prog {

// The display of one part's job in a production run. It keeps the job's story (the library's
// lines, qs71prog's notes, the summary) for a failed part's verdict, passes the progress on as
// the loop's activity (the step under the programmer's BUSY), and hands the outcome to
// `finished`. A part has no number until its started row holds one (Numbered).
class PartDisplay : public Display {
 public:
  using Finished =
      std::function<void(const JobOutcome& outcome, const std::vector<std::string>& story)>;

  PartDisplay(ProductionDisplay& board, int programmer, Finished finished)
      : board(board), programmer(programmer), finished(std::move(finished)) {}

  // The part's number, once granted; from the job's thread while the poller shows progress.
  void Numbered(int number) { part = number; }

  void Begin(const JobDescription&) override {}
  void Progress(const ProgressEvent& event) override;
  void LibraryLine(const std::string& text, bool onStderr) override;
  void Note(const std::string& text) override;
  void SearchingBlocks() override;
  void ComparingWithImage() override { comparing = true; }
  void Finish(const JobDescription& job, const JobOutcome& outcome) override;

 private:
  ProductionDisplay& board;
  int programmer;
  std::atomic<int> part{0};
  // The part's blank check failed, and it is compared with the image: not a verify of the
  // part, whose failure would say the wrong step.
  std::atomic<bool> comparing{false};
  Finished finished;
  std::vector<std::string> story;
};

}  // namespace qs71prog
