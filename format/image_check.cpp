#include "image_check.h"

#include "codec_tables.h"
#include "image_layout.h"
#include "system_area.h"
#include "text_format.h"

namespace {

// The generator's address space; nothing larger can be an image of it.
constexpr int64_t kLargestImage = 0x10000000;

// What every check looks at.
struct Subject {
  const ImageBytes& image;
  int32_t fileSize;
  const GroupReading& reading;
  ImageVerdict* verdict;
};

using CheckFn = std::string (*)(const Subject& subject);

std::string CheckTag(const Subject& s) {
  const int32_t pos = TagPos(s.fileSize);
  if (s.image.Byte(pos) == kTagBytes[0] && s.image.Byte(pos + 1) == kTagBytes[1]) return "";
  return Format("0x%06X holds %02X %02X", static_cast<unsigned>(pos), s.image.Byte(pos),
                s.image.Byte(pos + 1));
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

std::string CheckUlawTable(const Subject& s) {
  return TableMismatch(s.image, SystemAreaStart(s.fileSize), kUlawCodeCount, UlawExpansion);
}

std::string CheckStepTable(const Subject& s) {
  return TableMismatch(s.image, AdpcmStart(s.fileSize), kImaStepCount, StepEntry);
}

std::vector<uint8_t> SystemAreaOf(const Subject& s) {
  const int32_t start = SystemAreaStart(s.fileSize);
  return std::vector<uint8_t>(s.image.At(start), s.image.At(start) + kSystemAreaSize);
}

std::string CheckSystemAreaFits(const Subject& s) {
  const uint32_t k = qs71::SystemAreaMisfit(SystemAreaOf(s));
  if (k == 0) return "";
  const int32_t pos = s.fileSize - static_cast<int32_t>(k);
  return Format("k=%u at 0x%06X holds %02X", static_cast<unsigned>(k), static_cast<unsigned>(pos),
                s.image.Byte(pos));
}

std::string CheckFactoryCells(const Subject& s) {
  const std::vector<uint8_t> block = SystemAreaOf(s);
  const uint32_t k = qs71::FactoryCellClash(block);
  if (k == 0) return "";
  const int32_t pos = s.fileSize - static_cast<int32_t>(k);
  const std::string spoiled = qs71::SpoiledByteName(k, s.image.Byte(pos), qs71::SecondStageOf(block));
  return Format("0x%06X (k = %u, image byte %02X%s%s)", static_cast<unsigned>(pos),
                static_cast<unsigned>(k), s.image.Byte(pos), spoiled.empty() ? "" : ", which spoils ",
                spoiled.c_str());
}

std::string CheckSections(const Subject& s) {
  std::string problem;
  ScanSectionTable(s.image, SystemAreaStart(s.fileSize), &s.verdict->sections, &problem);
  return problem;
}

// The tables and what plays are only judged on a section table that reads.
bool SectionsRead(const Subject& s) {
  return s.verdict->Find(ImageFault::kSectionTable) == nullptr;
}

std::string CheckGroupTables(const Subject& s) {
  std::string problem;
  if (!SectionsRead(s)) return problem;
  ScanGroupTables(s.image, SystemAreaStart(s.fileSize), s.verdict->sections, s.reading,
                  &s.verdict->groups, &problem);
  return problem;
}

std::string CheckSomethingPlays(const Subject& s) {
  if (!SectionsRead(s) || !s.verdict->sections.sections.empty()) return "";
  return "no section entry names a group table";
}

struct ImageCheck {
  ImageFault fault;
  const char* text;
  CheckFn run;  // nullptr: a size fault, decided before the others
  bool detailInline;  // the detail continues the text rather than following in parentheses
};

const ImageCheck kChecks[] = {
    {ImageFault::kTooSmall, "too small", nullptr, false},
    {ImageFault::kTooLarge, "too large", nullptr, false},
    {ImageFault::kNoTag, "no tag 5A A5 at TagPos", CheckTag, false},
    {ImageFault::kUlawTable, "the u-law table is not the one the generator writes", CheckUlawTable,
     false},
    {ImageFault::kStepTable, "the ADPCM step table is not the one the generator writes",
     CheckStepTable, false},
    {ImageFault::kSystemArea, "no good part's system area matches it after masking",
     CheckSystemAreaFits, false},
    {ImageFault::kFactoryCell, "a write would clear the part's factory trim at",
     CheckFactoryCells, true},
    {ImageFault::kSectionTable, "the section table does not read", CheckSections, false},
    {ImageFault::kGroupTables, "inconsistent group entries", CheckGroupTables, false},
    {ImageFault::kNothingPlays, "no section plays", CheckSomethingPlays, false},
};

const ImageCheck* FindCheck(ImageFault fault) {
  for (const ImageCheck& check : kChecks) {
    if (check.fault == fault) return &check;
  }
  return nullptr;
}

}  // namespace

const ImageProblem* ImageVerdict::Find(ImageFault fault) const {
  for (const ImageProblem& problem : problems) {
    if (problem.fault == fault) return &problem;
  }
  return nullptr;
}

// The positions of the layout exist only from 512 bytes on, and the generator's addresses end
// at the chip address space.
ImageVerdict ImageSizeVerdict(int64_t size) {
  ImageVerdict verdict;
  const long long n = size;
  if (size < kSystemAreaSize) {
    verdict.problems.push_back(
        {ImageFault::kTooSmall,
         Format("%lld bytes; an image holds at least its %d-byte system area", n,
                kSystemAreaSize)});
  }
  if (size > kLargestImage) {
    verdict.problems.push_back(
        {ImageFault::kTooLarge, Format("%lld bytes; the chip address space ends at 0x%llX", n,
                                       static_cast<long long>(kLargestImage))});
  }
  return verdict;
}

ImageVerdict CheckImage(const std::vector<uint8_t>& bytes, const GroupReading& reading) {
  ImageVerdict verdict = ImageSizeVerdict(static_cast<int64_t>(bytes.size()));
  if (!verdict.Ok()) return verdict;
  const ImageBytes image(bytes);
  const Subject subject{image, static_cast<int32_t>(bytes.size()), reading, &verdict};
  for (const ImageCheck& check : kChecks) {
    if (check.run == nullptr) continue;
    std::string detail = check.run(subject);
    if (!detail.empty()) verdict.problems.push_back({check.fault, std::move(detail)});
  }
  return verdict;
}

std::string ProblemText(const ImageProblem& problem) {
  const ImageCheck* check = FindCheck(problem.fault);
  if (check == nullptr) return "not an image (" + problem.detail + ")";
  if (check->detailInline) return std::string(check->text) + " " + problem.detail;
  return std::string(check->text) + " (" + problem.detail + ")";
}

std::string ImageRefusal(const ImageVerdict& verdict) {
  return verdict.Ok() ? "" : ProblemText(verdict.problems.front());
}
