#include "image_map.h"

#include "dump_result.h"
#include "image_bytes.h"
#include "image_check.h"
#include "image_layout.h"
#include "option_decode.h"
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
// tables, the system area with its factory cells and whether a section plays are only judged
// in the report: an image read back from a part or built by hand is worth looking at even
// when a part would refuse it.
struct Refusal {
  ImageFault fault;
  int result;
};

constexpr Refusal kRefusals[] = {
    {ImageFault::kTooSmall, DumpTooSmall},
    {ImageFault::kTooLarge, DumpTooLarge},
    {ImageFault::kNoTag, DumpNoTag},
    {ImageFault::kSectionTable, DumpBadSections},
    {ImageFault::kGroupTables, DumpBadGroups},
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

Section SectionOf(const SectionSlot& slot, const std::vector<ScannedLink>& links) {
  Section section;
  section.number = slot.number;
  section.entryPos = slot.entryPos;
  section.entry = slot.entry;
  section.empty = false;
  section.flags = slot.fields.flags;
  section.option = slot.fields.option;
  section.tableAddress = slot.fields.tableAddress;
  for (const ScannedLink& link : links) {
    GroupLink shown;
    static_cast<ScannedLink&>(shown) = link;
    section.links.push_back(shown);
  }
  return section;
}

void ReadSections(const ImageVerdict& verdict, ImageMap* map) {
  const SectionTableScan& table = verdict.sections;
  map->noSections = table.noSections;
  map->groupStart = table.groupStart;
  map->slotCount = table.slotCount;
  map->grpAdr = verdict.groups.grpAdr;
  map->grpAdrDetected = map->settings.grpAdr == 0;
  map->grpAdrAlsoConsistent = verdict.groups.alsoConsistent;
  map->offset = verdict.groups.offset;
  map->offsetDetected = !map->settings.offsetGiven;
  map->soundBase = verdict.groups.soundBase;
  for (size_t i = 0; i < table.sections.size(); ++i) {
    map->sections.push_back(SectionOf(table.sections[i], verdict.groups.links[i]));
  }
}

}  // namespace

int64_t GroupTablesStart(const ImageMap& map) {
  return map.noSections ? map.soundBase : map.groupStart - map.offset;
}

int64_t SoundDataStart(const ImageMap& map) {
  return map.soundBase - (map.noSections ? 0 : map.offset);
}

int RefuseBySize(int64_t size, std::string* problem) {
  return Refuse(ImageSizeVerdict(size), problem);
}

int BuildImageMap(const std::vector<uint8_t>& bytes, const DumpSettings& settings, ImageMap* map,
                  std::string* problem) {
  const ImageVerdict verdict = CheckImage(bytes, settings);
  const int r = Refuse(verdict, problem);
  if (r != DumpOk) return r;
  const ImageBytes image(bytes);
  map->settings = settings;
  map->layout = LayoutFor(static_cast<int32_t>(bytes.size()));
  image.ReadLe(0, 4, &map->headerWord0);
  image.ReadLe(4, 4, &map->section0Entry);
  map->rampDec = ReadHeaderWord(image, kRampDecWordPos);
  map->rampInc = ReadHeaderWord(image, kRampIncWordPos);
  ReadSections(verdict, map);
  CollectSounds(&map->sections, map->offset, &map->sounds);
  MarkPaddingNibbles(image, &map->sounds);
  const int64_t dataStart = map->soundBase - (map->noSections ? 0 : map->offset);
  map->freeRanges = FindFreeRanges(image, map->sounds, dataStart, map->layout.systemAreaStart);
  map->options = DecodeOptions(image, map->layout);
  map->volumeMap = DecodeVolumeMap(image, map->layout);
  map->systemArea = JudgeSystemArea(image, verdict);
  return DumpOk;
}
