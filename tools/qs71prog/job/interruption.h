#pragma once

#include <string>

#include "job/job_phase.h"

namespace qs71prog {

// What Ctrl-C (or SIGTERM, SIGHUP, SIGQUIT) does to a job. A write cut short leaves an OTP part
// that can only be scrapped, so the first one lets the step under way finish and the job
// stops after it (exit 12); a second one cancels the library's call between two chunks (exit
// 13), mid-write if it must, and the part cut short is reported and logged.
enum class InterruptAction { kNone, kAnnounce, kAbort };

// Read by the poller while a call runs, from the count the platform keeps.
class InterruptWatcher {
 public:
  // What the Ctrl-Cs counted so far ask for now: the first is announced once, a second one
  // aborts.
  InterruptAction Check(int count);

 private:
  bool announced = false;
};

// What qs71prog says at the first interruption (`signal`: "Ctrl-C", "SIGTERM", ...) during
// the step `phase`.
std::string InterruptAnnouncement(Phase phase, const std::string& signal);

// What qs71prog says at the first interruption of a production run: the part under way is
// finished.
std::string PartInterruptAnnouncement(const std::string& signal);

// The signal's name for the closing line: empty for Ctrl-C, which the person pressed.
std::string SignalForSummary(const std::string& signal);

// "identification", "blank check", "write", "verify": a step in a sentence.
std::string StepTitle(Phase phase);

}  // namespace qs71prog
