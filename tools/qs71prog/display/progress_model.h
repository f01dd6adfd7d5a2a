#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "job/job_phase.h"

namespace qs71prog {

// Where one operation stands.
struct ProgressPoint {
  int stage = 0;         // 1 blank check, 2 write, 3 verify
  int32_t position = 0;  // the last OTP address transferred, as the progress cell has it
  int32_t size = 0;      // the chip's OTP size in bytes
  int percent = 0;
  double elapsed = 0.0;     // seconds since the stage was first seen
  double remaining = -1.0;  // estimated seconds left, negative while unknown
};

enum class ProgressEventKind { kBegan, kAdvanced, kDone, kFailed };

struct ProgressEvent {
  ProgressEventKind kind;
  ProgressPoint point;
};

// Turns readings of the library's stage and progress cells into events: a stage began, it
// advanced, it is done. The library leaves the progress cell at the last address of the
// previous transfer (OTP size - 1) until the new stage's first chunk, so a new stage that
// shows that value has not started yet. Within a stage the position only grows: the main
// area is streamed from address 0, the system area read back last, ending at size - 1.
// The library moves the stage cell on only when an operation succeeded, so a later stage
// means that every selected stage before it is done, seen or not.
class ProgressModel {
 public:
  explicit ProgressModel(const Selection& selection) : selection(selection) {}

  // One reading of the cells, at `now` seconds on any steady clock.
  std::vector<ProgressEvent> Observe(int stage, int32_t position, int32_t size, double now);
  // The stage finished successfully: its last address counts as reached.
  std::vector<ProgressEvent> Complete(int stage, int32_t size, double now);
  // The stage failed with the progress cell at `position`: the last word on it, so that a
  // display never leaves an earlier stage's percentage standing as if the job were there.
  std::vector<ProgressEvent> Fail(int stage, int32_t position, int32_t size, double now);

 private:
  struct Track {
    bool began = false;
    bool done = false;
    bool stale = false;
    int32_t staleValue = 0;
    int32_t position = -1;
    double startTime = 0.0;
    double firstTime = 0.0;
    int32_t firstPosition = -1;
  };

  void Begin(int stage, int32_t position, int32_t size, double now,
             std::vector<ProgressEvent>& events);
  void Advance(int stage, int32_t position, int32_t size, double now,
               std::vector<ProgressEvent>& events);
  ProgressPoint Point(int stage, int32_t size, double now) const;

  Selection selection;
  std::array<Track, kLastStage + 1> tracks{};
  int current = 0;
};

}  // namespace qs71prog
