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

std::string InterruptAnnouncement(Phase phase, const std::string& signal) {
  if (phase == Phase::kWrite) {
    return signal + ": the write will finish, since a half-written OTP part is scrapped; "
           "qs71prog stops after it. " + signal +
           " again stops at once and leaves the part partly written.";
  }
  return signal + ": qs71prog stops after the " + StepTitle(phase) + ". " + signal +
         " again stops at once.";
}

std::string PartInterruptAnnouncement(const std::string& signal) {
  return signal + ": the part under way will be finished and judged, since a half-written OTP "
         "part is scrapped; qs71prog stops after it. " + signal + " again stops at once.";
}

std::string SignalForSummary(const std::string& signal) {
  return signal == "Ctrl-C" ? "" : signal;
}

}  // namespace qs71prog
