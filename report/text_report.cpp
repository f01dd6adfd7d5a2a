#include "text_report.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "dump_result.h"
#include "section_entry.h"
#include "sound_list.h"

namespace {

using ull = unsigned long long;
using ll = long long;

std::string Range(int64_t first, int64_t last) { return RangeText(first, last); }

std::string Rate(const ImageMap& map, uint8_t divider) { return RateText(map, divider); }

std::string HexBytes(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
  std::string text;
  for (size_t i = from; i < from + count && i < bytes.size(); ++i) {
    text += Format(i == from ? "%02X" : " %02X", bytes[i]);
  }
  return text;
}

void AppendHead(const ImageMap& map, std::string* out) {
  const ImageLayout& l = map.layout;
  *out += Format("Image %s: %d bytes (0x%X)\n", map.path.c_str(), l.fileSize,
                 static_cast<unsigned>(l.fileSize));
  *out += Format("SHA-256 %s\n", map.sha256.c_str());
  *out +=
      Format("Read with GrpAdr %d (%s), Offset %d (%s), main clock %lld Hz\n\n", map.grpAdr,
             map.grpAdrDetected ? "detected" : "given", map.offset,
             map.offsetDetected ? "detected" : "given", static_cast<ll>(map.settings.mainClockHz));
}

void AppendRegion(const char* name, int64_t first, int64_t last, const std::string& note,
                  std::string* out) {
  if (last < first) {
    *out += Format("  %-20s none%s\n", name, note.c_str());
    return;
  }
  *out += Format("  %-20s %s%s\n", name, Range(first, last).c_str(), note.c_str());
}

void AppendLayout(const ImageMap& map, std::string* out) {
  const ImageLayout& l = map.layout;
  const int64_t tables = GroupTablesStart(map);
  const int64_t data = SoundDataStart(map);
  *out += "Layout\n";
  AppendRegion("header", 0, 15, "", out);
  AppendRegion("section entries", 16, map.groupStart - 1,
               map.noSections ? "" : Format(", slots 1 to %d", map.slotCount), out);
  AppendRegion("group tables", tables, data - 1, "", out);
  AppendRegion("sound data", data, l.systemAreaStart - 1, "", out);
  AppendRegion("u-law table", l.systemAreaStart, l.systemAreaStart + 255, "", out);
  AppendRegion("step table", l.adpcmStart, l.adpcmStart + 177, "", out);
  AppendRegion("tag", l.tagPos, l.tagPos + 1, "", out);
  if (map.options.configBlock) {
    AppendRegion("configuration block", l.optionBase, l.optionBase + 47, "", out);
  } else {
    AppendRegion("option block", l.optionStart, l.optionStart + 15, "", out);
  }
  AppendRegion("volume map", l.volMapPos, l.volMapPos + map.volumeMap.count - 1, "", out);
  *out += "\n";
}

void AppendHeaderWord(const ImageMap& map, const HeaderWord& word, const char* name,
                      std::string* out) {
  *out += Format("  0x%06X  %08X  %s: ", static_cast<unsigned>(word.pos), word.word, name);
  if (word.isRamp) {
    *out += Format("ramp sound at 0x%06X, ", word.rampPosition);
  } else {
    *out += "no ramp sound, clock-divider word, ";
  }
  *out += Rate(map, word.divider) + "\n";
}

void AppendHeader(const ImageMap& map, std::string* out) {
  *out += "Header\n";
  *out += Format("  0x000000  %08X  %s\n", map.headerWord0,
                 map.headerWord0 == 0xFFFFFFFFu ? "not written" : "not written by the generator");
  *out += Format("  0x000004  %08X  section 0 entry\n", map.section0Entry);
  AppendHeaderWord(map, map.rampDec, "RampDec", out);
  AppendHeaderWord(map, map.rampInc, "RampInc", out);
}

void AppendLink(const ImageMap& map, int k, const GroupLink& link, std::string* out) {
  const bool data = KindHasData(link.kind->kind);
  *out += Format("      link %d at 0x%06llX: %02X %-7s %s, %s, %lld %s, flag %d%s, sound #%d\n", k,
                 static_cast<ull>(link.filePos), link.typeByte, KindName(link.kind),
                 Rate(map, link.divider).c_str(), Range(link.start, link.end).c_str(),
                 static_cast<ll>(link.length), data ? "bytes" : "samples", link.flag ? 1 : 0,
                 link.last ? ", last" : "", link.soundId);
}

void AppendSections(const ImageMap& map, std::string* out) {
  if (map.noSections) {
    *out += "\nSections: none (no entry holds a section with links)\n";
    return;
  }
  *out += Format("\nSections: slots 0 to %d, %d with links; GroupStart 0x%06X\n", map.slotCount,
                 static_cast<int>(map.sections.size()), static_cast<unsigned>(map.groupStart));
  if (map.offset != 0) {
    *out +=
        Format("  Link addresses are chip addresses; file position = chip address - Offset (%d)\n",
               map.offset);
  }
  for (const Section& s : map.sections) {
    *out +=
        Format("  [%d] entry at 0x%06X = %08X: %s; table 0x%06X, %d link%s\n", s.number,
               static_cast<unsigned>(s.entryPos), s.entry, SectionFlagsText(s).c_str(),
               s.tableAddress, static_cast<int>(s.links.size()), s.links.size() == 1 ? "" : "s");
    for (size_t k = 0; k < s.links.size(); ++k)
      AppendLink(map, static_cast<int>(k), s.links[k], out);
  }
  *out += "  Slots not listed are empty; the last of them may be padding before GroupStart.\n";
}

void AppendSounds(const ImageMap& map, std::string* out) {
  *out += Format("\nSounds: %d distinct\n", static_cast<int>(map.sounds.size()));
  for (const Sound& s : map.sounds) {
    const bool data = KindHasData(s.kind->kind);
    *out += Format("  #%d %-7s ", s.id, KindName(s.kind));
    if (data)
      *out += Range(s.filePos, s.filePos + s.length - 1) +
              Format(" %lld bytes, ", static_cast<ll>(s.length));
    const ll samples = static_cast<ll>(KindSamplesIn(*s.kind, s.length));
    *out += s.maybePadded ? Format("%lld samples (%lld if the last nibble is padding)", samples, samples - 1)
                          : Format("%lld samples", samples);
    *out +=
        Format(", %s, %d link%s%s\n", Rate(map, s.divider).c_str(), s.linkCount, s.linkCount == 1 ? "" : "s",
               s.mixedDividers ? " (other links play it at other dividers)" : "");
  }
}

// The header words locate the ramp sounds' first bytes but not their length.
std::string RampNote(const ImageMap& map, int64_t first, int64_t last) {
  std::string note;
  const HeaderWord* words[] = {&map.rampDec, &map.rampInc};
  const char* names[] = {"RampDec", "RampInc"};
  for (int i = 0; i < 2; ++i) {
    const int64_t at = words[i]->rampPosition;
    if (words[i]->isRamp && at >= first && at <= last) {
      note += Format(", %s starts at 0x%06llX", names[i], static_cast<ull>(at));
    }
  }
  return note;
}

void AppendDataArea(const ImageMap& map, std::string* out) {
  const int64_t start = SoundDataStart(map);
  *out += Format("\nSound data area %s (file positions)\n",
                 Range(start, map.layout.systemAreaStart - 1).c_str());
  std::vector<std::pair<int64_t, std::string>> lines;
  for (const Sound& s : map.sounds) {
    if (!KindHasData(s.kind->kind) || s.length == 0) continue;
    const int64_t last = s.filePos + s.length - 1;
    lines.emplace_back(s.filePos,
                       Format("  %s %8lld bytes  #%d %s%s\n", Range(s.filePos, last).c_str(),
                              static_cast<ll>(s.length), s.id, KindName(s.kind),
                              RampNote(map, s.filePos, last).c_str()));
  }
  for (const FreeRange& f : map.freeRanges) {
    const std::string used =
        Format(", %lld bytes not 0xFF (unlinked data?)", static_cast<ll>(f.used));
    lines.emplace_back(f.start,
                       Format("  %s %8lld bytes  free%s%s\n", Range(f.start, f.end).c_str(),
                              static_cast<ll>(f.end - f.start + 1), f.used == 0 ? "" : used.c_str(),
                              RampNote(map, f.start, f.end).c_str()));
  }
  std::stable_sort(lines.begin(), lines.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& line : lines) *out += line.second;
}

void AppendValues(const char* title, const std::vector<NamedValue>& values, bool hex,
                  std::string* out) {
  *out += Format("  %s\n", title);
  for (const NamedValue& v : values) {
    std::string value = !v.valid ? Format("invalid (bits 0x%X)", v.value)
                        : hex    ? Format("0x%X", v.value)
                                 : Format("%u", v.value);
    if (!v.note.empty()) value += " (" + v.note + ")";
    *out += Format("    %-10s %-34s %s\n", v.name.c_str(), v.where.c_str(), value.c_str());
  }
}

void AppendOptions(const ImageMap& map, std::string* out) {
  const OptionInfo& o = map.options;
  const ImageLayout& l = map.layout;
  if (o.configBlock) {
    *out += Format("\nConfiguration block at 0x%06X (byte 33 = %02X)\n",
                   static_cast<unsigned>(l.optionBase), o.bytes[33]);
    for (size_t row = 0; row < o.bytes.size(); row += 16) {
      *out += Format("  %2d: %s\n", static_cast<int>(row), HexBytes(o.bytes, row, 16).c_str());
    }
    AppendValues("Fields:", o.fields, false, out);
    return;
  }
  *out += Format("\nOption block at 0x%06X: %s\n", static_cast<unsigned>(l.optionStart),
                 HexBytes(o.bytes, 0, o.bytes.size()).c_str());
  *out += Format("  Fixed bits %s\n", o.fixedBitsOk ? "as the generator writes them"
                                                    : "NOT as the generator writes them");
  AppendValues(".GLOBAL values:", o.globals, true, out);
  AppendValues("Fields of the same bits:", o.fields, false, out);
}

void AppendVolumeMap(const ImageMap& map, std::string* out) {
  const VolumeMap& v = map.volumeMap;
  *out +=
      Format("\nVolume map at 0x%06X: %d levels (MaxVol %d): %s\n", static_cast<unsigned>(v.pos),
             v.count, v.count - 1, HexBytes(v.entries, 0, v.entries.size()).c_str());
  if (static_cast<int>(v.entries.size()) < v.count)
    *out += "  The map runs past the end of the image.\n";
  *out +=
      v.restBlank ? "  The bytes after it are blank.\n" : "  The bytes after it are NOT blank.\n";
}

void AppendSystemArea(const ImageMap& map, std::string* out) {
  const SystemAreaVerdict& v = map.systemArea;
  *out += Format("\nSystem area %s\n",
                 Range(map.layout.systemAreaStart, map.layout.fileSize - 1).c_str());
  *out += Format("  u-law table %s; step table %s\n",
                 v.ulawTableOk ? "as the generator writes it" : "DIFFERS from the generator's",
                 v.stepTableOk ? "as the generator writes it" : "DIFFERS from the generator's");
  *out +=
      Format("  Size %d: %s\n", map.layout.fileSize,
             v.chipSize ? "a QS71 part size" : "NOT a QS71 part size; the programmer refuses it");
  *out +=
      Format("  CheckSystemArea on the image's last 512 bytes: %s\n",
             v.checkPasses ? "passes (a good part's values)" : "fails (not a good part's values)");
  *out +=
      Format("  MaskSystemArea covers %d places (factory trims, marker), left out of a verify\n",
             v.maskedCount);
  if (v.programmedMasked.empty()) {
    *out += "  The image programs none of them: a part keeps its factory values there\n";
    return;
  }
  *out += Format("  The image programs %d of them; a write ANDs these into the part's values:\n",
                 static_cast<int>(v.programmedMasked.size()));
  for (const MaskedByte& b : v.programmedMasked) {
    *out +=
        Format("    k=%-2d at 0x%06X: %02X\n", b.distance, static_cast<unsigned>(b.pos), b.image);
  }
  if (!v.clearsFactoryCell) return;
  const MaskedByte& c = v.factoryCell;
  *out += Format(
      "  A write would clear the part's factory trim at 0x%06X (k = %d, image byte %02X, "
      "factory bits %02X): qs71prog refuses the image, even with --force\n",
      static_cast<unsigned>(c.pos), c.distance, c.image, v.factoryBits);
}

}  // namespace

std::string RangeText(int64_t first, int64_t last) {
  return Format("0x%06llX..0x%06llX", static_cast<ull>(first), static_cast<ull>(last));
}

std::string SectionFlagsText(const Section& s) {
  std::string text = SectionHasFlag(s.flags, kSectionEdgeBit) ? "Edge" : "Level";
  text += SectionHasFlag(s.flags, kSectionHoldBit) ? ", Hold" : ", UnHold";
  text += SectionHasFlag(s.flags, kSectionRetriggerBit) ? ", Retrg" : ", NonRtg";
  text += SectionHasFlag(s.flags, kSectionStopEnableBit) ? ", StopEn" : ", StopDis";
  text += s.option < 0 ? ", no option" : Format(", option %d", s.option);
  return text;
}

std::string RateText(const ImageMap& map, uint8_t divider) {
  return Format("divider %3u (%u Hz)", divider, LinkRateHz(map.settings.mainClockHz, divider));
}

std::string TextReportPart(const ImageMap& map, TextPart part) {
  static void (*const kParts[])(const ImageMap&, std::string*) = {AppendOptions, AppendVolumeMap,
                                                                  AppendSystemArea};
  std::string out;
  kParts[static_cast<int>(part)](map, &out);
  // Each part opens with the blank line that parts it from the one before in the whole report.
  return out.substr(out.find_first_not_of('\n'));
}

std::string TextReport(const ImageMap& map) {
  std::string out;
  AppendHead(map, &out);
  AppendLayout(map, &out);
  AppendHeader(map, &out);
  AppendSections(map, &out);
  AppendSounds(map, &out);
  AppendDataArea(map, &out);
  AppendOptions(map, &out);
  AppendVolumeMap(map, &out);
  AppendSystemArea(map, &out);
  return out;
}
