#include "system_area_report.h"

#include <vector>

#include "chip_identity.h"
#include "image_layout.h"
#include "system_area.h"

namespace {

// The masked places are found by asking MaskSystemArea itself: a byte it changes in an
// all-zero block is one it masks, and what it makes of an all-ones block is the value that a
// blank byte there stands for (0x5A for the marker, 0xFF for the trims).
std::vector<MaskedByte> ProgrammedMaskedBytes(const std::vector<uint8_t>& block, int32_t blockPos,
                                              int* maskedCount) {
  std::vector<uint8_t> zeros(block.size(), 0x00);
  std::vector<uint8_t> ones(block.size(), 0xFF);
  qs71::MaskSystemArea(zeros);
  qs71::MaskSystemArea(ones);
  std::vector<MaskedByte> programmed;
  *maskedCount = 0;
  for (size_t i = 0; i < block.size(); ++i) {
    if (zeros[i] == 0x00) continue;
    *maskedCount += 1;
    if (block[i] == 0xFF || block[i] == ones[i]) continue;
    const int distance = static_cast<int>(block.size() - i);
    programmed.push_back({distance, blockPos + static_cast<int32_t>(i), block[i]});
  }
  return programmed;
}

}  // namespace

SystemAreaVerdict JudgeSystemArea(const ImageBytes& image, const ImageVerdict& checked) {
  SystemAreaVerdict verdict;
  verdict.tagOk = checked.Find(ImageFault::kNoTag) == nullptr;
  verdict.ulawTableOk = checked.Find(ImageFault::kUlawTable) == nullptr;
  verdict.stepTableOk = checked.Find(ImageFault::kStepTable) == nullptr;
  verdict.chipSize = qs71::IsOtpSize(image.size());
  const int32_t blockPos = static_cast<int32_t>(image.size()) - kSystemAreaSize;
  const std::vector<uint8_t> block(image.At(blockPos), image.At(blockPos) + kSystemAreaSize);
  verdict.checkPasses = qs71::CheckSystemArea(block);
  verdict.programmedMasked = ProgrammedMaskedBytes(block, blockPos, &verdict.maskedCount);
  const uint32_t k = qs71::FactoryCellClash(block);
  verdict.clearsFactoryCell = checked.Find(ImageFault::kFactoryCell) != nullptr && k != 0;
  if (verdict.clearsFactoryCell) {
    const size_t at = block.size() - k;
    verdict.factoryCell = {static_cast<int>(k), blockPos + static_cast<int32_t>(at), block[at]};
    verdict.factoryBits = qs71::PartBits(k, qs71::SecondStageOf(block));
  }
  return verdict;
}
