#include "image_map.h"

#include "dump_result.h"
#include "group_tables.h"
#include "image_bytes.h"
#include "image_layout.h"
#include "option_decode.h"
#include "section_scan.h"
#include "sound_list.h"
#include "system_area_report.h"

namespace {

// The generator's address space; nothing larger can be an image of it.
constexpr int64_t kLargestImage = 0x10000000;

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

int CheckSize(const std::vector<uint8_t>& image, std::string* problem) {
  const int64_t size = static_cast<int64_t>(image.size());
  if (size < kSystemAreaSize) {
    *problem = Format("%lld bytes; an image holds at least its %d-byte system area",
                      static_cast<long long>(size), kSystemAreaSize);
    return DumpTooSmall;
  }
  if (size > kLargestImage) {
    *problem = Format("%lld bytes; the chip address space ends at 0x%llX",
                      static_cast<long long>(size), static_cast<long long>(kLargestImage));
    return DumpTooLarge;
  }
  return DumpOk;
}

int CheckTag(const ImageBytes& image, const ImageLayout& layout, std::string* problem) {
  if (image.Byte(layout.tagPos) == kTagBytes[0] && image.Byte(layout.tagPos + 1) == kTagBytes[1]) {
    return DumpOk;
  }
  *problem = Format("0x%06X holds %02X %02X", static_cast<unsigned>(layout.tagPos),
                    image.Byte(layout.tagPos), image.Byte(layout.tagPos + 1));
  return DumpNoTag;
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

int ReadSections(const ImageBytes& image, ImageMap* map, std::string* problem) {
  SectionScan scan;
  int r = ScanSections(image, map->layout, &scan, problem);
  if (r != DumpOk) return r;
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
  int r = CheckSize(bytes, problem);
  if (r != DumpOk) return r;
  const ImageBytes image(bytes);
  map->settings = settings;
  map->layout = LayoutFor(static_cast<int32_t>(bytes.size()));
  if ((r = CheckTag(image, map->layout, problem)) != DumpOk) return r;
  image.ReadLe(0, 4, &map->headerWord0);
  image.ReadLe(4, 4, &map->section0Entry);
  map->rampDec = ReadHeaderWord(image, kRampDecWordPos);
  map->rampInc = ReadHeaderWord(image, kRampIncWordPos);
  if ((r = ReadSections(image, map, problem)) != DumpOk) return r;
  CollectSounds(&map->sections, map->offset, &map->sounds);
  const int64_t dataStart = map->soundBase - (map->noSections ? 0 : map->offset);
  map->freeRanges = FindFreeRanges(image, map->sounds, dataStart, map->layout.systemAreaStart);
  map->options = DecodeOptions(image, map->layout);
  map->volumeMap = DecodeVolumeMap(image, map->layout);
  map->systemArea = JudgeSystemArea(image, map->layout);
  return DumpOk;
}
