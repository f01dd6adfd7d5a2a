#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "job/job_phase.h"

namespace qs71prog {

// One call of Qs71UsbJob: the step it stands for and what it selects.
struct JobStep {
  Phase phase;
  Selection selection;
};

// The calls a job makes, in order. Every operation is a call of its own, since the library's
// call cannot be cancelled: between calls is the only place where a job can stop cleanly,
// with the OTP test stopped and the programmer closed. A job that uses an image identifies
// the chip first, in a call with nothing selected, so that an image of the wrong size is
// refused before the blank check. --identify alone is that one call.
std::vector<JobStep> PlanSteps(const Selection& selection);

// The first step that reads the image: the write when selected, else the verify.
Phase ImagePhase(const Selection& selection);

}  // namespace qs71prog
