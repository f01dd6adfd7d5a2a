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

TEST(CheckImageSize, TheImageMustBeAFileOfTheChipsSize) {
  const std::filesystem::path dir = ScratchFolder(std::filesystem::temp_directory_path(), "steps");
  const std::string image = (dir / "voice.bin").string();
  std::ofstream(image, std::ios::binary) << std::string(262144, '\xFF');
  struct {
    std::string path;
    int32_t otpSize;
    int32_t result;
  } const cases[] = {
      {image, 262144, QS71_OK},
      {image, 524288, QS71_E_FILE_SIZE},
      {(dir / "missing.bin").string(), 262144, QS71_E_FILE},
      {dir.string(), 262144, QS71_E_FILE},
  };
  for (const auto& c : cases) {
    uint64_t size = 0;
    EXPECT_EQ(CheckImageSize(c.path, c.otpSize, size), c.result) << c.path << " " << c.otpSize;
  }
  uint64_t size = 0;
  CheckImageSize(image, 524288, size);
  EXPECT_EQ(size, 262144u);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qs71prog
