#include "job/job_phase.h"

#include "qs71_usb_writer.h"

namespace qs71prog {

namespace {

struct PhaseText {
  Phase phase;
  const char* name;
  const char* title;
};

constexpr PhaseText kPhaseNames[] = {
    {Phase::kConnect, "connect", "connection"},
    {Phase::kIdentify, "identify", "identification"},
    {Phase::kBlankCheck, "blank-check", "blank check"},
    {Phase::kWrite, "write", "write"},
    {Phase::kVerify, "verify", "verify"},
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

Selection Only(int stage) {
  Selection selection;
  selection.blankCheck = stage == 1;
  selection.write = stage == 2;
  selection.verify = stage == 3;
  return selection;
}

bool UsesImage(const Selection& selection) { return selection.write || selection.verify; }

}  // namespace

const char* PhaseName(Phase phase) {
  for (const PhaseText& entry : kPhaseNames) {
    if (entry.phase == phase) return entry.name;
  }
  return "unknown";
}

const char* PhaseTitle(Phase phase) {
  for (const PhaseText& entry : kPhaseNames) {
    if (entry.phase == phase) return entry.title;
  }
  return "step";
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

std::vector<JobStep> PlanSteps(const Selection& selection) {
  std::vector<JobStep> steps;
  if (UsesImage(selection) || selection.LastPhase() == Phase::kIdentify) {
    steps.push_back({Phase::kIdentify, Selection{}});
  }
  for (int stage = kFirstStage; stage <= kLastStage; ++stage) {
    if (selection.Selected(stage)) steps.push_back({PhaseOfStage(stage), Only(stage)});
  }
  return steps;
}

Phase ImagePhase(const Selection& selection) {
  return selection.write ? Phase::kWrite : Phase::kVerify;
}

}  // namespace qs71prog
