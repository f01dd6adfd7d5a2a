#include "job/job_phase.h"

#include <gtest/gtest.h>

#include "case_names.h"
#include "qs71_usb_writer.h"

namespace qs71prog {
namespace {

struct PhaseCase {
  const char* what;
  Selection call;
  int32_t failedStep;
  int32_t lastStep;
  Phase expected;
};

class FailingPhase : public testing::TestWithParam<PhaseCase> {};

TEST_P(FailingPhase, FollowsTheResult) {
  const PhaseCase& c = GetParam();
  EXPECT_EQ(FailedPhase(c.call, c.failedStep, c.lastStep), c.expected) << c.what;
}

const Selection kBlankCheck{true, false, false};
const Selection kWrite{false, true, false};
const Selection kVerifyOnly{false, false, true};

INSTANTIATE_TEST_SUITE_P(
    Cases, FailingPhase,
    testing::Values(
        PhaseCase{"not opened", kWrite, QS71_STEP_OPEN, QS71_STEP_OPEN, Phase::kConnect},
        PhaseCase{"not identified", kWrite, QS71_STEP_IDENTIFY, QS71_STEP_IDENTIFY,
                  Phase::kIdentify},
        PhaseCase{"blank check", kBlankCheck, QS71_STEP_BLANK_CHECK, QS71_STEP_BLANK_CHECK,
                  Phase::kBlankCheck},
        PhaseCase{"write", kWrite, QS71_STEP_WRITE, QS71_STEP_WRITE, Phase::kWrite},
        PhaseCase{"verify", kVerifyOnly, QS71_STEP_VERIFY, QS71_STEP_VERIFY, Phase::kVerify},
        // Cancelled between two chunks: nothing failed, the write was under way.
        PhaseCase{"cancelled mid-write", kWrite, QS71_STEP_NONE, QS71_STEP_WRITE, Phase::kWrite},
        PhaseCase{"stop after the steps", kVerifyOnly, QS71_STEP_STOP, QS71_STEP_STOP,
                  Phase::kVerify},
        PhaseCase{"identify only, stop failed", Selection{}, QS71_STEP_STOP, QS71_STEP_STOP,
                  Phase::kIdentify}),
    [](const testing::TestParamInfo<PhaseCase>& info) { return CaseName(info.param.what); });

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
