#pragma once

#include <array>

#include "display/display.h"

namespace qs71prog {

// One JSON object per line on standard output, for scripts and GUIs. Events:
//   start    {"event":"start","version","library","emulated","operations","image","sha256"?,
//             "volts"}
//   stage    {"event":"stage","stage","state":"began"|"done","seconds"}
//            {"event":"stage","stage","state":"failed","progress","percent","seconds"}
//   progress {"event":"progress","stage","progress","size","percent","eta_seconds"?}
//   message  {"event":"message","source":"library"|"qs71prog","stream","text"}
//   result   {"event":"result","ok","result"?,"stage","exit","status","otp_size","seconds",
//             "sha256"?,"blocks"?,"blocks_complete"?,"message"}; blocks after a failed blank
//             check or verify: its first failing 256-byte blocks, ["0x002300-0x0023FF", ...]
// sha256 is the image's, in lower-case hex as qs71gen's map and qs71dump print it, so that a
// part's log names the very file that went into it.
// Progress events come when the percentage changes and at a stage's last address, so a
// stage never sends more than 101 of them.
class JsonDisplay : public Display {
 public:
  explicit JsonDisplay(TextSink& sink) : sink(sink) {}

  void Begin(const JobDescription& job) override;
  void Progress(const ProgressEvent& event) override;
  void LibraryLine(const std::string& text, bool onStderr) override;
  void Note(const std::string& text) override;
  void Finish(const JobDescription& job, const JobOutcome& outcome) override;

 private:
  TextSink& sink;
  std::array<int, kLastStage + 1> lastPercent{-1, -1, -1, -1};
};

}  // namespace qs71prog
