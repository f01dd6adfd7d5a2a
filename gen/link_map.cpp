#include "link_map.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "ascii_case.h"
#include "compile_state.h"
#include "image_layout.h"
#include "name_tables.h"
#include "output_file.h"
#include "section_entry.h"
#include "sound_kinds.h"
#include "text_format.h"
#include "wrap_math.h"

namespace {

std::string Trimmed(const char* label) {
  std::string text = label;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

int64_t Samples(const SoundDef& sound) {
  return KindHasData(sound.kind) ? sound.frames : static_cast<int64_t>(sound.end) + 1;
}

int64_t Bytes(const SoundDef& sound) {
  return KindHasData(sound.kind) ? static_cast<int64_t>(sound.end) - sound.start + 1 : 0;
}

// Distinct rates at which a sound is linked, in the order of their first link.
std::vector<int32_t> RatesOf(CompileState& s, const SoundDef& sound) {
  std::vector<int32_t> rates;
  for (const LinkRecord& link : s.Links) {
    if (!EqualsNoCase(link.sound, sound.name)) continue;
    if (std::find(rates.begin(), rates.end(), link.rate) == rates.end()) rates.push_back(link.rate);
  }
  return rates;
}

std::string Durations(CompileState& s, const SoundDef& sound) {
  std::string out;
  for (int32_t rate : RatesOf(s, sound)) {
    out += Format("  %.3f s at %d Hz", rate > 0 ? static_cast<double>(Samples(sound)) / rate : 0.0, rate);
  }
  return out.empty() ? "  not linked" : out;
}

std::string SoundLine(CompileState& s, const SoundDef& sound) {
  const SoundKindInfo* kind = FindSoundKind(sound.kind);
  const uint32_t first = static_cast<uint32_t>(WrapAdd(s.SoundBase, sound.start));
  const uint32_t last = static_cast<uint32_t>(WrapAdd(s.SoundBase, sound.end));
  std::string range = KindHasData(sound.kind) ? Format("0x%06X-0x%06X", first, last) : "(no data)";
  return Format("  %-16s %-7s %10lld %-17s %9lld  %s%s\n", sound.name.c_str(),
                kind != nullptr ? Trimmed(kind->label).c_str() : "?", static_cast<long long>(Samples(sound)),
                range.c_str(), static_cast<long long>(Bytes(sound)),
                KindHasData(sound.kind) ? sound.text.c_str() : "-", Durations(s, sound).c_str());
}

// What the preparation did to a sound (only with a preparation option).
std::string PreparationLine(CompileState& s, const SoundDef& sound) {
  auto it = s.Prep.records.find(AsciiLowerCopy(sound.name));
  return it != s.Prep.records.end() && it->second.playedRate > 0 ? PreparationMapColumns(it->second) : "";
}

std::string SoundsPart(CompileState& s) {
  std::vector<const SoundDef*> sounds = SoundsNewestFirst(s);
  std::reverse(sounds.begin(), sounds.end());
  std::string out = Format("Sounds (%u, in script order)\n", static_cast<unsigned>(sounds.size()));
  out += Format("  %-16s %-7s %10s %-17s %9s  %s\n", "name", "kind", "samples", "chip addresses", "bytes",
                "wave file, playing time");
  for (const SoundDef* sound : sounds) out += SoundLine(s, *sound) + PreparationLine(s, *sound);
  return out;
}

std::string SectionHead(CompileState& s, int32_t n) {
  const int32_t flags = s.SecFlags[n];
  const int32_t option = s.SecOption[n];
  const int32_t links = s.SecGroups[n];
  if (links == 0) return Format("  [%d] no links\n", n);
  return Format("  [%d] %s %s %s %s, option %s, group table 0x%06X, %d link%s\n", n,
                SectionHasFlag(flags, kSectionEdgeBit) ? "Edge" : "Level",
                SectionHasFlag(flags, kSectionHoldBit) ? "Hold" : "UnHold",
                SectionHasFlag(flags, kSectionRetriggerBit) ? "Retrg" : "NonRtg",
                SectionHasFlag(flags, kSectionStopEnableBit) ? "StopEn" : "StopDis",
                option > 0 ? std::to_string(option).c_str() : "none",
                static_cast<unsigned>(s.SecBase[n]), links, links == 1 ? "" : "s");
}

std::string SectionsPart(CompileState& s) {
  std::string out = Format("Sections (0 to %d)\n", s.MaxSection);
  for (int32_t n = 0; n <= s.MaxSection && n < kSectionCount; ++n) {
    out += SectionHead(s, n);
    for (const LinkRecord& link : s.Links) {
      if (link.section == n) out += Format("      %-16s %6d Hz  flag %d\n", link.sound.c_str(), link.rate, link.flag);
    }
  }
  return out;
}

// Used and free space by file position: the sound data ends where the next sound would start,
// and everything from there to the system area is free.
std::string SpacePart(CompileState& s, int64_t imageSize) {
  const int64_t soundStart = static_cast<int64_t>(s.SoundBase) - s.Offset;
  const int64_t soundEnd = soundStart + s.NextSoundStart;
  const int64_t system = SystemAreaStart(s.FileSize);
  std::string out = "Space (file positions)\n";
  out += Format("  header and group tables  0x%06llX-0x%06llX %9lld bytes\n", 0ULL,
                static_cast<unsigned long long>(soundStart - 1), static_cast<long long>(soundStart));
  out += Format("  sound data               0x%06llX-0x%06llX %9lld bytes\n",
                static_cast<unsigned long long>(soundStart), static_cast<unsigned long long>(soundEnd - 1),
                static_cast<long long>(s.NextSoundStart));
  out += Format("  free                     %-17s %9lld bytes\n", "", static_cast<long long>(system - soundEnd));
  out += Format("  system area              0x%06llX-0x%06llX %9d bytes\n", static_cast<unsigned long long>(system),
                static_cast<unsigned long long>(imageSize - 1), kSystemAreaSize);
  return out;
}

}  // namespace

void MapLink(CompileState& s, int32_t section, const char* sound, int32_t rate, int32_t flag) {
  s.Links.push_back({section, sound != nullptr ? sound : "", rate, flag});
}

std::string ImageMapText(CompileState& s, const std::string& sha256, int64_t imageSize) {
  std::string out = Format("qs71gen map of %s\n", s.ArgCount > 2 ? s.Args[2].c_str() : "");
  out += Format("script     %s\n", s.ArgCount > 1 ? s.Args[1].c_str() : "");
  out += Format("size       %lld bytes (0x%llX)\n", static_cast<long long>(imageSize),
                static_cast<unsigned long long>(imageSize));
  out += Format("sha256     %s\n", sha256.empty() ? "(the output cannot be read back)" : sha256.c_str());
  out += Format("GrpAdr     %d bytes, Offset 0x%X, SoundBase 0x%X\n\n", s.GrpAdr, static_cast<unsigned>(s.Offset),
                static_cast<unsigned>(s.SoundBase));
  out.insert(out.size() - 1, Format("ADPCM quality: %d\n", s.AdpcmQuality));
  return out + SoundsPart(s) + "\n" + SectionsPart(s) + "\n" + SpacePart(s, imageSize);
}

int WriteImageMap(CompileState& s, const std::string& path) {
  const std::string text = ImageMapText(s, ImageSha256(s), static_cast<int64_t>(s.FileSize));
  std::string reason;
  if (WriteOutputText(path, text, &reason)) return 0;
  std::fprintf(s.Err, "qs71gen: the map %s cannot be written: %s; no image written\n", path.c_str(),
               reason.c_str());
  return 1;
}
