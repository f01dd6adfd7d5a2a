#include "image_check.h"

#include "codec_tables.h"
#include "image_layout.h"
#include "system_area.h"
#include "text_format.h"

namespace {

// The generator's address space; nothing larger can be an image of it.
constexpr int64_t kLargestImage = 0x10000000;

using CheckFn = std::string (*)(const ImageBytes& image, int32_t fileSize, ImageVerdict* verdict);

std::string CheckTag(const ImageBytes& image, int32_t fileSize, ImageVerdict*) {
  const int32_t pos = TagPos(fileSize);
  if (image.Byte(pos) == kTagBytes[0] && image.Byte(pos + 1) == kTagBytes[1]) return "";
  return Format("0x%06X holds %02X %02X", static_cast<unsigned>(pos), image.Byte(pos),
                image.Byte(pos + 1));
}

// The first entry of a 16-bit table that differs from what the generator stores.
std::string TableMismatch(const ImageBytes& image, int32_t pos, int count, uint16_t (*entry)(int)) {
  for (int i = 0; i < count; ++i) {
    uint32_t stored = 0;
    const int32_t at = pos + 2 * i;
    if (image.ReadLe(at, 2, &stored) && stored == entry(i)) continue;
    return Format("entry %d at 0x%06X holds %04X, not %04X", i, static_cast<unsigned>(at),
                  static_cast<unsigned>(stored), entry(i));
  }
  return "";
}

uint16_t StepEntry(int i) { return static_cast<uint16_t>(kImaStepTable[i]); }

std::string CheckUlawTable(const ImageBytes& image, int32_t fileSize, ImageVerdict*) {
  return TableMismatch(image, SystemAreaStart(fileSize), kUlawCodeCount, UlawExpansion);
}

std::string CheckStepTable(const ImageBytes& image, int32_t fileSize, ImageVerdict*) {
  return TableMismatch(image, AdpcmStart(fileSize), kImaStepCount, StepEntry);
}

std::string CheckSystemAreaFits(const ImageBytes& image, int32_t fileSize, ImageVerdict*) {
  const int32_t start = SystemAreaStart(fileSize);
  const std::vector<uint8_t> block(image.At(start), image.At(start) + kSystemAreaSize);
  const uint32_t k = qs71::SystemAreaMisfit(block);
  if (k == 0) return "";
  const int32_t pos = fileSize - static_cast<int32_t>(k);
  return Format("k=%u at 0x%06X holds %02X", static_cast<unsigned>(k), static_cast<unsigned>(pos),
                image.Byte(pos));
}

std::string CheckSections(const ImageBytes& image, int32_t fileSize, ImageVerdict* verdict) {
  std::string problem;
  ScanSectionTable(image, SystemAreaStart(fileSize), &verdict->sections, &problem);
  return problem;
}

struct ImageCheck {
  ImageFault fault;
  const char* text;
  CheckFn run;  // nullptr: a size fault, decided before the others
};

const ImageCheck kChecks[] = {
    {ImageFault::kTooSmall, "too small", nullptr},
    {ImageFault::kTooLarge, "too large", nullptr},
    {ImageFault::kNoTag, "no tag 5A A5 at TagPos", CheckTag},
    {ImageFault::kUlawTable, "the u-law table is not the one the generator writes", CheckUlawTable},
    {ImageFault::kStepTable, "the ADPCM step table is not the one the generator writes",
     CheckStepTable},
    {ImageFault::kSystemArea, "no good part's system area matches it after masking",
     CheckSystemAreaFits},
    {ImageFault::kSectionTable, "the section table does not read", CheckSections},
};

const char* FaultText(ImageFault fault) {
  for (const ImageCheck& check : kChecks) {
    if (check.fault == fault) return check.text;
  }
  return "not an image";
}

// The positions of the layout exist only from 512 bytes on, and the generator's addresses end
// at the chip address space.
void CheckSize(int64_t size, ImageVerdict* verdict) {
  const long long n = size;
  if (size < kSystemAreaSize) {
    verdict->problems.push_back(
        {ImageFault::kTooSmall,
         Format("%lld bytes; an image holds at least its %d-byte system area", n,
                kSystemAreaSize)});
  }
  if (size > kLargestImage) {
    verdict->problems.push_back(
        {ImageFault::kTooLarge, Format("%lld bytes; the chip address space ends at 0x%llX", n,
                                       static_cast<long long>(kLargestImage))});
  }
}

}  // namespace

const ImageProblem* ImageVerdict::Find(ImageFault fault) const {
  for (const ImageProblem& problem : problems) {
    if (problem.fault == fault) return &problem;
  }
  return nullptr;
}

ImageVerdict CheckImage(const std::vector<uint8_t>& bytes) {
  ImageVerdict verdict;
  CheckSize(static_cast<int64_t>(bytes.size()), &verdict);
  if (!verdict.Ok()) return verdict;
  const ImageBytes image(bytes);
  for (const ImageCheck& check : kChecks) {
    if (check.run == nullptr) continue;
    std::string detail = check.run(image, static_cast<int32_t>(bytes.size()), &verdict);
    if (!detail.empty()) verdict.problems.push_back({check.fault, std::move(detail)});
  }
  return verdict;
}

std::string ImageRefusal(const ImageVerdict& verdict) {
  if (verdict.Ok()) return "";
  const ImageProblem& first = verdict.problems.front();
  return std::string(FaultText(first.fault)) + " (" + first.detail + ")";
}
