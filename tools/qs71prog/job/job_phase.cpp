#include "job/job_phase.h"

#include "qs71_usb_writer.h"

namespace qs71prog {

namespace {

struct PhaseText {
  Phase phase;
  const char* name;
};

constexpr PhaseText kPhaseNames[] = {
    {Phase::kConnect, "connect"},        {Phase::kIdentify, "identify"},
    {Phase::kBlankCheck, "blank-check"}, {Phase::kWrite, "write"},
    {Phase::kVerify, "verify"},
};

struct StageText {
  const char* name;
  const char* title;
  Phase phase;
};

// Index = the value of the library's stage cell.
constexpr StageText kStages[] = {
    {"idle", "", Phase::kIdentify},
    {"blank-check", "blank check", Phase::kBlankCheck},
    {"write", "write", Phase::kWrite},
    {"verify", "verify", Phase::kVerify},
};

bool ValidStage(int stage) { return stage >= kFirstStage && stage <= kLastStage; }

struct StepPhase {
  int32_t step;
  Phase phase;
};

// The steps a call's result names that stand for a step of the job.
constexpr StepPhase kStepPhases[] = {
    {QS71_STEP_OPEN, Phase::kConnect},          {QS71_STEP_IDENTIFY, Phase::kIdentify},
    {QS71_STEP_BLANK_CHECK, Phase::kBlankCheck}, {QS71_STEP_WRITE, Phase::kWrite},
    {QS71_STEP_VERIFY, Phase::kVerify},         {QS71_STEP_COMPARE, Phase::kVerify},
};

const StepPhase* FindStep(int32_t step) {
  for (const StepPhase& entry : kStepPhases) {
    if (entry.step == step) return &entry;
  }
  return nullptr;
}

}  // namespace

const char* PhaseName(Phase phase) {
  for (const PhaseText& entry : kPhaseNames) {
    if (entry.phase == phase) return entry.name;
  }
  return "unknown";
}

Phase PhaseOfStage(int stage) {
  return ValidStage(stage) ? kStages[stage].phase : Phase::kIdentify;
}

int StageOfPhase(Phase phase) {
  for (int stage = kFirstStage; stage <= kLastStage; ++stage) {
    if (kStages[stage].phase == phase) return stage;
  }
  return 0;
}

const char* StageTitle(int stage) { return ValidStage(stage) ? kStages[stage].title : ""; }

const char* StageName(int stage) { return ValidStage(stage) ? kStages[stage].name : "idle"; }

bool Selection::Selected(int stage) const {
  switch (stage) {
    case 1:
      return blankCheck;
    case 2:
      return write;
    case 3:
      return verify;
    default:
      return false;
  }
}

Phase Selection::LastPhase() const {
  for (int stage = kLastStage; stage >= kFirstStage; --stage) {
    if (Selected(stage)) return PhaseOfStage(stage);
  }
  return Phase::kIdentify;
}

Phase FailedPhase(const Selection& call, int32_t failedStep, int32_t lastStep) {
  const StepPhase* step = FindStep(failedStep != QS71_STEP_NONE ? failedStep : lastStep);
  return step != nullptr ? step->phase : call.LastPhase();
}

}  // namespace qs71prog
