#pragma once

#include <array>
#include <string>

#include "display/display.h"

namespace qs71prog {

// For logs and pipes: no carriage returns, one progress line each time a stage passes
// another five percent, and a last line when it is done.
class PlainDisplay : public Display {
 public:
  explicit PlainDisplay(TextSink& sink) : sink(sink) {}

  void Begin(const JobDescription&) override {}
  void Progress(const ProgressEvent& event) override;
  void LibraryLine(const std::string& text, bool onStderr) override;
  void Note(const std::string& text) override;
  void Finish(const JobDescription& job, const JobOutcome& outcome) override;

  static constexpr int kStepPercent = 5;

 private:
  TextSink& sink;
  std::array<int, kLastStage + 1> nextPercent{};
};

}  // namespace qs71prog
