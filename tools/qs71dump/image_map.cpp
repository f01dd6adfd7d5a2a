#include "image_map.h"

#include "dump_result.h"
#include "group_tables.h"
#include "image_bytes.h"
#include "image_check.h"
#include "image_layout.h"
#include "option_decode.h"
#include "section_scan.h"
#include "sound_list.h"
#include "system_area_report.h"

namespace {

ImageLayout LayoutFor(int32_t fileSize) {
  ImageLayout layout;
  layout.fileSize = fileSize;
  layout.systemAreaStart = SystemAreaStart(fileSize);
  layout.adpcmStart = AdpcmStart(fileSize);
  layout.optionBase = OptionBase(fileSize);
  layout.tagPos = TagPos(fileSize);
  layout.optionStart = OptionStart(fileSize);
  layout.volMapPos = VolMapPos(fileSize);
  return layout;
}

HeaderWord ReadHeaderWord(const ImageBytes& image, int32_t pos) {
  HeaderWord word;
  word.pos = pos;
  image.ReadLe(pos, 4, &word.word);
  word.divider = static_cast<uint8_t>(word.word);
  word.isRamp = HeaderWordHoldsRamp(word.word);
  word.rampPosition = word.word >> 8;
  return word;
}

// What makes bytes no image for the inspector, in the order it reports them. The decoding
// tables and the system area are only judged in the report: an image read back from a part
// or built by hand is worth looking at even when a part would refuse it.
struct Refusal {
  ImageFault fault;
  int result;
};

constexpr Refusal kRefusals[] = {
    {ImageFault::kTooSmall, DumpTooSmall},
    {ImageFault::kTooLarge, DumpTooLarge},
    {ImageFault::kNoTag, DumpNoTag},
    {ImageFault::kSectionTable, DumpBadSections},
};

int Refuse(const ImageVerdict& verdict, std::string* problem) {
  for (const Refusal& refusal : kRefusals) {
    const ImageProblem* found = verdict.Find(refusal.fault);
    if (found == nullptr) continue;
    *problem = found->detail;
    return refusal.result;
  }
  return DumpOk;
}

int ReadTables(const ImageBytes& image, const SectionScan& scan, ImageMap* map,
               std::string* problem) {
  const DumpSettings& settings = map->settings;
  if (!settings.offsetGiven && !DetectOffset(image, map->layout, scan.groupStart, &map->offset)) {
    *problem = Format("no group table after the section entries (GroupStart 0x%06X)",
                      static_cast<unsigned>(scan.groupStart));
    return DumpBadGroups;
  }
  GroupTables tables;
  int r = DetectGroupTables(image, map->layout, scan, settings, map->offset, &tables, &map->grpAdr,
                            problem);
  if (r != DumpOk) return r;
  map->sections = std::move(tables.sections);
  map->soundBase = tables.soundBase;
  return DumpOk;
}

int ReadSections(const ImageBytes& image, const ImageVerdict& verdict, ImageMap* map,
                 std::string* problem) {
  const SectionScan scan = SectionsOf(verdict.sections);
  map->noSections = scan.noSections;
  map->groupStart = scan.groupStart;
  map->slotCount = scan.slotCount;
  map->grpAdr = map->settings.grpAdr != 0 ? map->settings.grpAdr : 3;
  map->grpAdrDetected = map->settings.grpAdr == 0;
  map->offset = map->settings.offset;
  map->offsetDetected = !map->settings.offsetGiven;
  map->soundBase = scan.groupStart;
  if (scan.noSections) return DumpOk;
  return ReadTables(image, scan, map, problem);
}

}  // namespace

double DividerRate(int64_t mainClockHz, uint8_t divider) {
  return static_cast<double>(mainClockHz) / 32.0 / (divider + 1.0);
}

int BuildImageMap(const std::vector<uint8_t>& bytes, const DumpSettings& settings, ImageMap* map,
                  std::string* problem) {
  const ImageVerdict verdict = CheckImage(bytes);
  int r = Refuse(verdict, problem);
  if (r != DumpOk) return r;
  const ImageBytes image(bytes);
  map->settings = settings;
  map->layout = LayoutFor(static_cast<int32_t>(bytes.size()));
  image.ReadLe(0, 4, &map->headerWord0);
  image.ReadLe(4, 4, &map->section0Entry);
  map->rampDec = ReadHeaderWord(image, kRampDecWordPos);
  map->rampInc = ReadHeaderWord(image, kRampIncWordPos);
  if ((r = ReadSections(image, verdict, map, problem)) != DumpOk) return r;
  CollectSounds(&map->sections, map->offset, &map->sounds);
  const int64_t dataStart = map->soundBase - (map->noSections ? 0 : map->offset);
  map->freeRanges = FindFreeRanges(image, map->sounds, dataStart, map->layout.systemAreaStart);
  map->options = DecodeOptions(image, map->layout);
  map->volumeMap = DecodeVolumeMap(image, map->layout);
  map->systemArea = JudgeSystemArea(image, verdict);
  return DumpOk;
}
