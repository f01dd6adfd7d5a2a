#include "job/job_steps.h"

namespace qs71prog {

namespace {

Selection Only(int stage) {
  Selection selection;
  selection.blankCheck = stage == 1;
  selection.write = stage == 2;
  selection.verify = stage == 3;
  return selection;
}

bool UsesImage(const Selection& selection) { return selection.write || selection.verify; }

}  // namespace

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
