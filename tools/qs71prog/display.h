#pragma once

#include <memory>
#include <string>

#include "job_report.h"
#include "progress_model.h"
#include "text_sink.h"

namespace qs71prog {

// One way of showing a run: a bar on a terminal, plain lines in a log, JSON events for
// programs. The reporter calls it from the poller and the capture threads, one call at a
// time, so a display keeps its own state without locks.
class Display {
 public:
  virtual ~Display() = default;
  virtual void Begin(const JobDescription& job) = 0;
  virtual void Progress(const ProgressEvent& event) = 0;
  // A whole line the library printed, without its newline.
  virtual void LibraryLine(const std::string& text, bool onStderr) = 0;
  // A remark of qs71prog's own, such as the hint about the udev rule.
  virtual void Note(const std::string& text) = 0;
  virtual void Finish(const JobDescription& job, const JobOutcome& outcome) = 0;
};

enum class DisplayKind { kTerminal, kPlain, kJson };

std::unique_ptr<Display> MakeDisplay(DisplayKind kind, TextSink& sink, int columns);

}  // namespace qs71prog
