#include "job/job_phase.h"

#include <gtest/gtest.h>

#include "case_names.h"

namespace qs71prog {
namespace {

struct PhaseCase {
  const char* what;
  Selection selection;
  bool started;
  std::vector<std::string> lines;
  std::vector<int> stagesSeen;
  Phase expected;
};

class FailingPhase : public testing::TestWithParam<PhaseCase> {};

TEST_P(FailingPhase, FollowsTheEvidence) {
  const PhaseCase& c = GetParam();
  PhaseEvidence evidence;
  for (const std::string& line : c.lines) evidence.NoteLine(line);
  for (int stage : c.stagesSeen) evidence.NoteStage(stage);
  EXPECT_EQ(evidence.FailingPhase(c.selection, c.started), c.expected) << c.what;
}

const Selection kAll{true, true, true};
const Selection kVerifyOnly{false, false, true};
const std::string kId = "OTP ID: 0x6D, 0x61, 0x02, 0x00.";

INSTANTIATE_TEST_SUITE_P(
    Cases, FailingPhase,
    testing::Values(
        PhaseCase{"size cell untouched", kAll, false, {kId}, {}, Phase::kConnect},
        PhaseCase{"no ID line, no stage",
                  kAll,
                  true,
                  {"OTP test started @ VDD=3.30V, VPP=3.30V."},
                  {},
                  Phase::kIdentify},
        PhaseCase{"identified, nothing else", kAll, true, {kId}, {}, Phase::kBlankCheck},
        PhaseCase{
            "blank check line", kAll, true, {kId, "OTP blank check complete."}, {}, Phase::kWrite},
        // A write that failed before the poller saw stage 2 still counts as the write.
        PhaseCase{"stage 1 seen, its line too",
                  kAll,
                  true,
                  {kId, "OTP blank check complete."},
                  {1},
                  Phase::kWrite},
        PhaseCase{"stage 3 seen without lines", kAll, true, {}, {3}, Phase::kVerify},
        PhaseCase{"stage 2 seen without lines", kAll, true, {}, {2}, Phase::kWrite},
        PhaseCase{"write line",
                  kAll,
                  true,
                  {kId, "OTP blank check complete.", "Write OTP complete."},
                  {},
                  Phase::kVerify},
        PhaseCase{"verify only", kVerifyOnly, true, {kId}, {}, Phase::kVerify},
        PhaseCase{"unselected lines count for nothing",
                  kVerifyOnly,
                  true,
                  {kId, "Write OTP complete."},
                  {},
                  Phase::kVerify},
        PhaseCase{"identify only", Selection{}, true, {kId}, {}, Phase::kIdentify}),
    [](const testing::TestParamInfo<PhaseCase>& info) { return CaseName(info.param.what); });

TEST(PhaseEvidence, ReportsWhichStageALineCompletes) {
  PhaseEvidence evidence;
  EXPECT_EQ(evidence.NoteLine("OTP blank check complete."), 1);
  EXPECT_EQ(evidence.NoteLine("Write OTP complete."), 2);
  EXPECT_EQ(evidence.NoteLine("Verify OTP complete."), 3);
  EXPECT_EQ(evidence.NoteLine("[ERROR] Data NOT match!"), 0);
  EXPECT_EQ(evidence.NoteLine(kId), 0);
}

}  // namespace
}  // namespace qs71prog
