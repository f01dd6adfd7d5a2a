#pragma once

#include <memory>
#include <string>

#include "display/progress_model.h"
#include "job/job_report.h"
#include "platform/output_streams.h"

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
  // The search for the blocks that differ begins; it takes a while (some 17 s at the real
  // pace), and a display that shows each programmer apart says so where that one's verdict
  // goes. The remark that explains the search comes as a Note as well.
  virtual void SearchingBlocks() {}
  // A production part's blank check found it written, and it is compared with the image (it
  // may be a part made before): the verify that follows is that comparison, not the part's.
  virtual void ComparingWithImage() {}
  virtual void Finish(const JobDescription& job, const JobOutcome& outcome) = 0;
};

enum class DisplayKind { kTerminal, kPlain, kJson };

std::unique_ptr<Display> MakeDisplay(DisplayKind kind, TextSink& sink, int columns);

// The texts the displays share.

// "0:07", "1:02:03"; "--:--" for a negative (unknown) duration.
std::string FormatDuration(double seconds);

// The live bar for a terminal, at most columns - 1 characters so that it never wraps:
//   "write        [##########..........]  50%  0:07 left"
std::string RenderBar(const ProgressPoint& point, int columns);

// The line that replaces the bar when a stage is done:
//   "write        [####################] 100%  in 0:03"
std::string RenderDoneLine(const ProgressPoint& point, int columns);

// The line that replaces the bar when a stage failed, where it stopped:
//   "verify       [###################.]  99%  failed"
std::string RenderFailedLine(const ProgressPoint& point, int columns);

// One line for a log, without a terminal:
//   "write  50%  address 0x01FFFF of 0x03FFFF"
std::string RenderPlainLine(const ProgressPoint& point);

}  // namespace qs71prog
