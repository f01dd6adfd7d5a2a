#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qs71prog {

// Where a programming job stands. The library's stage cell knows only its three operations;
// the two steps before them matter as much on a bench: a programmer that never answered is
// a cable or permission problem, a chip that does not identify is a socket problem.
enum class Phase { kConnect, kIdentify, kBlankCheck, kWrite, kVerify };

// "connect", "identify", "blank-check", "write", "verify": JSON events and summaries.
const char* PhaseName(Phase phase);
// "connection", "identification", "blank check", "write", "verify": the step a part failed in,
// in words for the operator.
const char* PhaseTitle(Phase phase);
// The operation a stage value (1..3) stands for.
Phase PhaseOfStage(int stage);
// The stage value (1..3) of an operation, 0 for the steps before the operations.
int StageOfPhase(Phase phase);
// "blank check", "write", "verify" for stages 1..3: the label of the progress bar.
const char* StageTitle(int stage);
// "blank-check", "write", "verify" for stages 1..3.
const char* StageName(int stage);

constexpr int kFirstStage = 1;
constexpr int kLastStage = 3;

// The operations a job asks of the library, by stage value.
struct Selection {
  bool blankCheck = false;
  bool write = false;
  bool verify = false;

  bool Selected(int stage) const;
  // The last step a successful job runs: the last selected operation, or identification.
  Phase LastPhase() const;
};

// The step of a call that failed, from the steps the library's result names (Qs71Step
// values): the step that failed, or for a failure between the steps (stopping the OTP test,
// a call cancelled between two chunks) the last one begun; past the selected steps, the
// call's last step.
Phase FailedPhase(const Selection& call, int32_t failedStep, int32_t lastStep);

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
