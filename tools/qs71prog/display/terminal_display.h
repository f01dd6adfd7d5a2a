#pragma once

#include <string>

#include "display/display.h"

namespace qs71prog {

// A live bar on the last line of the terminal. Every other line is printed above it: the bar
// is wiped with a carriage return and spaces, the line written whole, the bar drawn again,
// so that no message ever shares a line with it.
class TerminalDisplay : public Display {
 public:
  TerminalDisplay(TextSink& sink, int columns) : sink(sink), columns(columns) {}

  void Begin(const JobDescription&) override {}
  void Progress(const ProgressEvent& event) override;
  void LibraryLine(const std::string& text, bool onStderr) override;
  void Note(const std::string& text) override;
  void Finish(const JobDescription& job, const JobOutcome& outcome) override;

 private:
  void Draw(const std::string& bar);
  void Wipe();
  void Restore();
  void PrintAbove(const std::string& line, bool onStderr);

  TextSink& sink;
  int columns;
  int barStage = 0;   // the stage the bar shows, 0 when there is none
  std::string shown;  // the bar as drawn, empty when wiped
  std::string bar;    // the bar to draw again after a line
};

}  // namespace qs71prog
