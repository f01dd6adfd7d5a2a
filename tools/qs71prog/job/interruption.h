#pragma once

#include <string>

#include "job/job_phase.h"

namespace qs71prog {

// What Ctrl-C does to a job. The library's call cannot be cancelled safely, and a write cut
// short leaves an OTP part that can only be scrapped, so the first Ctrl-C lets the step under
// way finish and the job stops after it (exit 12); a second one ends the process at once
// (exit 13), mid-write if it must.
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

// What qs71prog says at the first Ctrl-C during the step `phase`.
std::string InterruptAnnouncement(Phase phase);

// What qs71prog says at the first Ctrl-C of a production run: the part under way is finished.
std::string PartInterruptAnnouncement();

// "identification", "blank check", "write", "verify": a step in a sentence.
std::string StepTitle(Phase phase);

}  // namespace qs71prog
