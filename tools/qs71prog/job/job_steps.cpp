#include "job/job_steps.h"

#include <filesystem>
#include <system_error>

#include "qs71_usb_writer.h"

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

int32_t CheckImageSize(const std::string& image, int32_t otpSize, uint64_t& imageSize) {
  std::error_code error;
  const std::filesystem::path path(image);
  if (!std::filesystem::is_regular_file(path, error)) return QS71_E_FILE;
  imageSize = std::filesystem::file_size(path, error);
  if (error) return QS71_E_FILE;
  return imageSize == static_cast<uint64_t>(otpSize) ? QS71_OK : QS71_E_FILE_SIZE;
}

}  // namespace qs71prog
