#include "display/progress_model.h"

namespace qs71prog {

namespace {

bool ValidStage(int stage) { return stage >= kFirstStage && stage <= kLastStage; }

// A rate needs some history before it means anything; half a second of it is plenty for a
// transfer that streams hundreds of reports per second.
constexpr double kEstimateAfterSeconds = 0.5;

}  // namespace

std::vector<ProgressEvent> ProgressModel::Observe(int stage, int32_t position, int32_t size,
                                                  double now) {
  std::vector<ProgressEvent> events;
  if (stage != current && ValidStage(stage)) {
    for (int earlier = kFirstStage; earlier < stage; ++earlier) {
      if (!selection.Selected(earlier)) continue;
      const std::vector<ProgressEvent> done = Complete(earlier, size, now);
      events.insert(events.end(), done.begin(), done.end());
    }
    Begin(stage, position, size, now, events);
  }
  current = stage;
  if (ValidStage(current)) Advance(current, position, size, now, events);
  return events;
}

std::vector<ProgressEvent> ProgressModel::Complete(int stage, int32_t size, double now) {
  std::vector<ProgressEvent> events;
  if (!ValidStage(stage) || size <= 0 || tracks[stage].done) return events;
  Begin(stage, size - 1, size, now, events);
  Track& track = tracks[stage];
  track.stale = false;
  Advance(stage, size - 1, size, now, events);
  track.done = true;
  events.push_back({ProgressEventKind::kDone, Point(stage, size, now)});
  return events;
}

std::vector<ProgressEvent> ProgressModel::Fail(int stage, int32_t position, int32_t size,
                                               double now) {
  std::vector<ProgressEvent> events = Observe(stage, position, size, now);
  if (!ValidStage(stage) || size <= 0 || tracks[stage].done) return events;
  tracks[stage].done = true;
  // The failure's line says where the stage stopped; a last advance there would only repeat it.
  const bool advancedHere = !events.empty() && events.back().kind == ProgressEventKind::kAdvanced &&
                            events.back().point.stage == stage;
  if (advancedHere) events.pop_back();
  events.push_back({ProgressEventKind::kFailed, Point(stage, size, now)});
  return events;
}

void ProgressModel::Begin(int stage, int32_t position, int32_t size, double now,
                          std::vector<ProgressEvent>& events) {
  Track& track = tracks[stage];
  if (track.began) return;
  track.began = true;
  track.stale = size > 0 && position == size - 1;
  track.staleValue = position;
  track.startTime = now;
  events.push_back({ProgressEventKind::kBegan, Point(stage, size, now)});
}

void ProgressModel::Advance(int stage, int32_t position, int32_t size, double now,
                            std::vector<ProgressEvent>& events) {
  Track& track = tracks[stage];
  if (track.done || size <= 0 || position < 0 || position >= size) return;
  if (track.stale && position == track.staleValue) return;
  track.stale = false;
  if (position <= track.position) return;
  track.position = position;
  if (track.firstPosition < 0) {
    track.firstPosition = position;
    track.firstTime = now;
  }
  events.push_back({ProgressEventKind::kAdvanced, Point(stage, size, now)});
}

ProgressPoint ProgressModel::Point(int stage, int32_t size, double now) const {
  const Track& track = tracks[stage];
  ProgressPoint point;
  point.stage = stage;
  point.size = size;
  point.position = track.position < 0 ? 0 : track.position;
  point.percent = track.position < 0 || size <= 0
                      ? 0
                      : static_cast<int>((int64_t{track.position} + 1) * 100 / size);
  point.elapsed = now - track.startTime;
  const int32_t moved = track.position - track.firstPosition;
  const double span = now - track.firstTime;
  if (track.firstPosition >= 0 && moved > 0 && span >= kEstimateAfterSeconds) {
    point.remaining = span * (size - 1 - track.position) / moved;
  }
  return point;
}

}  // namespace qs71prog
