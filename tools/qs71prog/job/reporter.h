#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "display/display.h"
#include "display/progress_model.h"
#include "job/job_phase.h"
#include "qs71_usb_writer.h"

namespace qs71prog {

// The result structure of one library call, ready to be handed to it: its size set, nothing
// reached yet. The library writes its stage, progress and size cells while the call runs.
using JobCells = Qs71JobResult;
JobCells FreshCells();

// The meeting point of the two threads of a run: the poller's readings of the cells and
// the library's lines, and the main thread's start and end. One lock keeps
// the display's calls in order and whole. A job makes one call of the library per step; the
// display follows the whole job, the evidence of where a call failed only that call.
class Reporter {
 public:
  Reporter(Display& display, JobCells& cells, const Selection& selection);

  void Begin(const JobDescription& job);
  // Main thread, before each call: what this call selects.
  void BeginCall(const Selection& call);
  // Poller thread: one reading of the cells. `deliverLines` hands over the lines the library
  // printed so far, after the cells are read and before their progress is shown: the library
  // prints a stage's messages before it moves the stage on, so they come out first.
  void Sample(const std::function<void()>& deliverLines = {});
  // Poller thread: one whole line of the library's text. Empty lines, which the library
  // prints after each transfer to end its own progress line, carry nothing and are dropped.
  void Line(const std::string& text, bool onStderr);
  void Note(const std::string& text);
  void SearchingBlocks();
  void ComparingWithImage();
  // Main thread, after the call returned: the step that failed (or the last one run), from
  // the result structure; reports the end of every stage that completed, or where the failed
  // one stopped.
  Phase Conclude(int32_t result);
  void Finish(const JobDescription& job, const JobOutcome& outcome);
  double Seconds() const;

 private:
  struct Reading {
    int32_t stage;
    int32_t progress;
    int32_t otpSize;
  };

  Reading Read() const;
  void Emit(const std::vector<ProgressEvent>& events);

  std::mutex mutex;
  Display& display;
  JobCells& cells;
  Selection selection;
  Selection callSelection;
  ProgressModel model;
  std::chrono::steady_clock::time_point start;
};

}  // namespace qs71prog
