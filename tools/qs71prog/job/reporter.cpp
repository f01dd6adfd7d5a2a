#include "job/reporter.h"

#include <atomic>

namespace qs71prog {

namespace {

// The library stores the cells with plain aligned 32-bit stores from the calling thread;
// an atomic load on this side reads each one whole.
int32_t Load(int32_t& cell) {
  return std::atomic_ref<int32_t>(cell).load(std::memory_order_acquire);
}

}  // namespace

JobCells FreshCells() {
  JobCells cells{};
  cells.size = sizeof cells;
  return cells;
}

Reporter::Reporter(Display& display, JobCells& cells, const Selection& selection)
    : display(display),
      cells(cells),
      selection(selection),
      callSelection(selection),
      model(selection),
      start(std::chrono::steady_clock::now()) {}

double Reporter::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The stage first: the library stores the size before it moves the stage past idle, and
// stores the stage with release semantics, so the size is read only once a stage is seen. Until
// then the size is no cell to poll: the library sets it up at the call's start as it likes.
Reporter::Reading Reporter::Read() const {
  Reading reading;
  reading.stage = Load(cells.stage);
  reading.otpSize = reading.stage != 0 ? Load(cells.otpSize) : 0;
  reading.progress = Load(cells.progress);
  return reading;
}

void Reporter::Emit(const std::vector<ProgressEvent>& events) {
  for (const ProgressEvent& event : events) display.Progress(event);
}

void Reporter::Begin(const JobDescription& job) {
  std::lock_guard<std::mutex> lock(mutex);
  start = std::chrono::steady_clock::now();
  display.Begin(job);
}

void Reporter::BeginCall(const Selection& call) {
  std::lock_guard<std::mutex> lock(mutex);
  callSelection = call;
}

void Reporter::Sample(const std::function<void()>& deliverLines) {
  const Reading reading = Read();
  if (deliverLines) deliverLines();
  std::lock_guard<std::mutex> lock(mutex);
  if (reading.stage != 0 && reading.otpSize <= 0) return;
  Emit(model.Observe(reading.stage, reading.progress, reading.otpSize, Seconds()));
}

void Reporter::Line(const std::string& text, bool onStderr) {
  if (text.empty()) return;
  std::lock_guard<std::mutex> lock(mutex);
  display.LibraryLine(text, onStderr);
}

void Reporter::Note(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex);
  display.Note(text);
}

void Reporter::SearchingBlocks() {
  std::lock_guard<std::mutex> lock(mutex);
  display.SearchingBlocks();
}

void Reporter::ComparingWithImage() {
  std::lock_guard<std::mutex> lock(mutex);
  display.ComparingWithImage();
}

Phase Reporter::Conclude(int32_t result) {
  std::lock_guard<std::mutex> lock(mutex);
  // The call has returned: every cell is the library's last word.
  const Reading reading{cells.stage, cells.progress, cells.otpSize};
  const Phase phase = result == 0 ? callSelection.LastPhase()
                                  : FailedPhase(callSelection, cells.failedStep, cells.lastStep);
  const double now = Seconds();
  for (int stage = kFirstStage; stage <= kLastStage; ++stage) {
    const bool completed = result == 0 || PhaseOfStage(stage) < phase;
    if (callSelection.Selected(stage) && completed) {
      Emit(model.Complete(stage, reading.otpSize, now));
    }
  }
  // Where the failing transfer stopped, as the progress cell last had it.
  const int failedStage = StageOfPhase(phase);
  if (result != 0 && failedStage != 0 && reading.otpSize > 0) {
    Emit(model.Fail(failedStage, reading.progress, reading.otpSize, now));
  }
  return phase;
}

void Reporter::Finish(const JobDescription& job, const JobOutcome& outcome) {
  std::lock_guard<std::mutex> lock(mutex);
  display.Finish(job, outcome);
}

}  // namespace qs71prog
