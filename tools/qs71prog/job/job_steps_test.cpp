#include "job/job_steps.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "qs71_usb_writer.h"
#include "test_scratch.h"

namespace qs71prog {
namespace {

struct PlanCase {
  Selection selection;
  std::vector<Phase> steps;
};

// Each operation a call of its own; identification first whenever an image must fit.
TEST(PlanSteps, OneCallPerStep) {
  const PlanCase cases[] = {
      {{}, {Phase::kIdentify}},
      {{true, false, false}, {Phase::kBlankCheck}},
      {{false, false, true}, {Phase::kIdentify, Phase::kVerify}},
      {{false, true, false}, {Phase::kIdentify, Phase::kWrite}},
      {{true, true, true}, {Phase::kIdentify, Phase::kBlankCheck, Phase::kWrite, Phase::kVerify}},
  };
  for (const PlanCase& c : cases) {
    std::vector<Phase> phases;
    for (const JobStep& step : PlanSteps(c.selection)) {
      phases.push_back(step.phase);
      const int stage = StageOfPhase(step.phase);
      for (int other = kFirstStage; other <= kLastStage; ++other) {
        EXPECT_EQ(step.selection.Selected(other), other == stage) << PhaseName(step.phase);
      }
    }
    EXPECT_EQ(phases, c.steps);
  }
}

}  // namespace
}  // namespace qs71prog
