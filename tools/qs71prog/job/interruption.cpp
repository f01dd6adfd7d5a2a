#include "job/interruption.h"

namespace qs71prog {

InterruptAction InterruptWatcher::Check(int count) {
  if (count >= 2) return InterruptAction::kAbort;
  if (count < 1 || announced) return InterruptAction::kNone;
  announced = true;
  return InterruptAction::kAnnounce;
}

std::string StepTitle(Phase phase) {
  const int stage = StageOfPhase(phase);
  if (stage != 0) return StageTitle(stage);
  return phase == Phase::kIdentify ? "identification" : "connection";
}

std::string InterruptAnnouncement(Phase phase) {
  if (phase == Phase::kWrite) {
    return "Ctrl-C: the write will finish, since a half-written OTP part is scrapped and the "
           "library's call cannot be cancelled safely; qs71prog stops after it. Ctrl-C again "
           "stops at once and leaves the part partly written.";
  }
  return "Ctrl-C: qs71prog stops after the " + StepTitle(phase) + ". Ctrl-C again stops at once.";
}

std::string PartInterruptAnnouncement() {
  return "Ctrl-C: the part under way will be finished and judged, since a half-written OTP "
         "part is scrapped; qs71prog stops after it. Ctrl-C again stops at once.";
}

}  // namespace qs71prog
