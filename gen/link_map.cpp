#include "link_map.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "ascii_case.h"
#include "audio/sound_import.h"
#include "clock_divider.h"
#include "audio/sound_codecs.h"
#include "compile_state.h"
#include "image_layout.h"
#include "name_tables.h"
#include "output_file.h"
#include "section_entry.h"
#include "sound_kinds.h"
#include "sound_pressure.h"
#include "sound_report.h"
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
std::vector<int32_t> RatesOf(const std::vector<LinkRecord>& links, const SoundDef& sound) {
  std::vector<int32_t> rates;
  for (const LinkRecord& link : links) {
    if (!EqualsNoCase(link.sound, sound.name)) continue;
    if (std::find(rates.begin(), rates.end(), link.rate) == rates.end()) rates.push_back(link.rate);
  }
  return rates;
}

// The rate the chip plays a link at: the clock divided by the steps of the link's divider.
int32_t PlayedHz(CompileState& s, int32_t rate) {
  PlayedRate played{};
  return ChipPlayedRate(s.MainClk, rate, &played) ? played.hz : 0;
}

std::string Duration(CompileState& s, const SoundDef& sound, int32_t rate) {
  const int32_t hz = PlayedHz(s, rate);
  const double seconds = hz > 0 ? static_cast<double>(Samples(sound)) / hz : 0.0;
  if (hz == rate) return Format("  %.3f s at %d Hz", seconds, hz);
  return Format("  %.3f s at %d Hz (linked at %d)", seconds, hz, rate);
}

std::string Durations(CompileState& s, const std::vector<LinkRecord>& links, const SoundDef& sound) {
  std::string out;
  for (int32_t rate : RatesOf(links, sound)) out += Duration(s, sound, rate);
  return out.empty() ? "  not linked" : out;
}

// A wave file refused in pass 1 has no place in the image.
bool Refused(const SoundDef& sound) {
  return KindHasData(sound.kind) && sound.start == 0 && sound.end == 0 && sound.frames == 0;
}

// What a refused file would take once mended, as the space budget counts it.
int64_t SoundBytesNeededBy(CompileState& s, const SoundDef& sound) {
  const SoundReport* report = FindSoundReport(s, sound.name);
  return report != nullptr ? report->refusedBytes : 0;
}

std::string SoundLine(CompileState& s, const std::vector<LinkRecord>& links, const SoundDef& sound) {
  const SoundKindInfo* kind = FindSoundKind(sound.kind);
  const uint32_t first = static_cast<uint32_t>(WrapAdd(SoundAreaBase(s), sound.start));
  const uint32_t last = static_cast<uint32_t>(WrapAdd(SoundAreaBase(s), sound.end));
  std::string range = Refused(sound)          ? "(refused)"
                      : KindHasData(sound.kind) ? Format("0x%06X-0x%06X", first, last)
                                                : "(no data)";
  return Format("  %-16s %-7s %10lld %-17s %9lld  %s%s\n", sound.name.c_str(),
                kind != nullptr ? Trimmed(kind->label).c_str() : "?", static_cast<long long>(Samples(sound)),
                range.c_str(), static_cast<long long>(Refused(sound) ? SoundBytesNeededBy(s, sound) : Bytes(sound)),
                KindHasData(sound.kind) ? sound.text.c_str() : "-", Durations(s, links, sound).c_str());
}

// What the preparation did to a sound (only with a preparation option).
std::string PreparationLine(CompileState& s, const SoundDef& sound) {
  auto it = s.Prep.records.find(AsciiLowerCopy(sound.name));
  return it != s.Prep.records.end() && it->second.playedRate > 0 ? PreparationMapColumns(it->second) : "";
}

std::string SoundsPart(CompileState& s, const std::vector<LinkRecord>& links) {
  std::vector<const SoundDef*> sounds = SoundsNewestFirst(s);
  std::reverse(sounds.begin(), sounds.end());
  std::string out = Format("Sounds (%u, in script order)\n", static_cast<unsigned>(sounds.size()));
  out += Format("  %-16s %-7s %10s %-17s %9s  %s\n", "name", "kind", "samples", "chip addresses", "bytes",
                "wave file, playing time");
  for (const SoundDef* sound : sounds) out += SoundLine(s, links, *sound) + PreparationLine(s, *sound);
  return out;
}

// One row of the measures table: a sound's levels, the rate of those samples, and whether the
// image stores them (the bytes of their silence are then the OTP it takes).
struct LevelsRow {
  const SoundLevels& levels;
  uint32_t rate;
  bool stored;
};

// One column of the measures table: its heading, its width and a row's cell. A new per-sound
// figure is a field of SoundReport (sound_report.h) and a row here.
struct SoundColumn {
  const char* heading;
  int width;
  std::string (*cell)(const SoundDef& sound, const LevelsRow& row);
};

std::string Decibels(double db) { return std::isfinite(db) ? Format("%.1f", db) : db > 0 ? "exact" : "-inf"; }

std::string Milliseconds(int64_t samples, const LevelsRow& r) {
  return r.rate > 0 ? Format("%.0f", 1000.0 * static_cast<double>(samples) / r.rate) : "-";
}

std::string SilenceBytes(const SoundDef& d, int64_t samples, const LevelsRow& r) {
  return r.stored ? std::to_string(KindBytesOf(d.kind, samples)) : "-";
}

const SoundColumn kMeasureColumns[] = {
    {"peak", 6, [](const SoundDef&, const LevelsRow& r) { return Decibels(r.levels.peakDbfs); }},
    {"RMS", 6, [](const SoundDef&, const LevelsRow& r) { return Decibels(r.levels.rmsDbfs); }},
    {"clipped", 8, [](const SoundDef&, const LevelsRow& r) { return std::to_string(r.levels.clipped); }},
    {"lead ms", 8, [](const SoundDef&, const LevelsRow& r) { return Milliseconds(r.levels.leadingSilence, r); }},
    {"bytes", 8, [](const SoundDef& d, const LevelsRow& r) { return SilenceBytes(d, r.levels.leadingSilence, r); }},
    {"trail ms", 9, [](const SoundDef&, const LevelsRow& r) { return Milliseconds(r.levels.trailingSilence, r); }},
    {"bytes", 8, [](const SoundDef& d, const LevelsRow& r) { return SilenceBytes(d, r.levels.trailingSilence, r); }},
};

std::string LevelsLine(const SoundDef& sound, const char* name, const char* of, const LevelsRow& row) {
  std::string out = Format("  %-16s", name);
  if (of != nullptr) out += Format(" %-8s", of);
  for (const SoundColumn& column : kMeasureColumns) out += Format(" %*s", column.width, column.cell(sound, row).c_str());
  return out + "\n";
}

// With preparation each sound has two rows: its source as recorded (a file the plain reader
// refuses too), and below it the samples the image stores.
std::string MeasuresPart(CompileState& s) {
  const bool prepared = s.Prep.options.Active();
  std::string out = prepared ? Format("Levels (dBFS; of the source and of the prepared samples; silence at the ends "
                                      "below %.0f dBFS, at the samples' rate, and the bytes it takes as stored)\n",
                                      kSilenceDbfs)
                             : Format("Levels (dBFS; silence at the ends below %.0f dBFS, at the file's rate, and its "
                                      "bytes)\n", kSilenceDbfs);
  out += Format("  %-16s", "name");
  if (prepared) out += Format(" %-8s", "of");
  for (const SoundColumn& column : kMeasureColumns) out += Format(" %*s", column.width, column.heading);
  out += "\n";
  for (const auto& sound : s.Names.sounds) {
    const SoundReport* report = FindSoundReport(s, sound->name);
    if (report == nullptr || (!report->measured && !report->prepared)) continue;
    if (!prepared) {
      out += LevelsLine(*sound, sound->name.c_str(), nullptr, {report->levels, report->fileRate, true});
      continue;
    }
    const char* name = sound->name.c_str();
    if (report->measured) out += LevelsLine(*sound, name, "source", {report->levels, report->fileRate, false});
    if (report->prepared) {
      out += LevelsLine(*sound, report->measured ? "" : name, "prepared",
                        {report->preparedLevels, report->preparedRate, true});
    }
  }
  return out;
}

std::string CodecsPart(CompileState& s) {
  std::string out = "Codecs (bytes, and the SNR in dB of what the chip plays back against the sound's samples)\n";
  out += Format("  %-16s", "name");
  for (int32_t kind : kComparedCodecs) out += Format(" %9s %5s", Trimmed(FindCodec(kind)->tag).c_str(), "SNR");
  out += "\n";
  for (const auto& sound : s.Names.sounds) {
    const SoundReport* report = FindSoundReport(s, sound->name);
    if (report == nullptr || report->costs.empty()) continue;
    out += Format("  %-16s", sound->name.c_str());
    for (const CodecCost& cost : report->costs) {
      out += Format(" %9lld %5s", static_cast<long long>(cost.bytes), Decibels(cost.snrDb).c_str());
    }
    out += "\n";
  }
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

// links: as pass 2 wrote them for an image, as pass 1 counted them for a failed compile, which
// may have stopped before pass 2 or in the middle of it.
std::string SectionsPart(CompileState& s, const std::vector<LinkRecord>& links) {
  std::string out = Format("Sections (0 to %d)\n", s.MaxSection);
  for (int32_t n = 0; n <= s.MaxSection && n < kSectionCount; ++n) {
    out += SectionHead(s, n);
    for (const LinkRecord& link : links) {
      if (link.section != n) continue;
      out += Format("      %-16s %6d Hz  plays %6d Hz  flag %d\n", link.sound.c_str(), link.rate,
                    PlayedHz(s, link.rate), link.flag);
    }
  }
  return out;
}

// Used and free space by file position: the sound data ends where the next sound would start,
// and everything from there to the system area is free.
std::string SpacePart(CompileState& s, int64_t imageSize) {
  const int64_t soundStart = static_cast<int64_t>(SoundAreaBase(s)) - s.Offset;
  const int64_t soundEnd = soundStart + s.NextSoundStart;
  const int64_t system = SystemAreaStart(s.FileSize);
  std::string out = "Space (file positions)\n";
  out += Format("  header and group tables  0x%06llX-0x%06llX %9lld bytes\n", 0ULL,
                static_cast<unsigned long long>(soundStart - 1), static_cast<long long>(soundStart));
  out += Format("  sound data               0x%06llX-0x%06llX %9lld bytes\n",
                static_cast<unsigned long long>(soundStart), static_cast<unsigned long long>(soundEnd - 1),
                static_cast<long long>(s.NextSoundStart));
  const int64_t refused = SoundBytesNeeded(s) - s.NextSoundStart;
  if (refused > 0) out += Format("  refused wave files       %-17s %9lld bytes\n", "", static_cast<long long>(refused));
  const int64_t free = FreeSoundBytes(s);
  out += Format("  %-24s %-17s %9lld bytes\n", free < 0 ? "over" : "free", "",
                static_cast<long long>(free < 0 ? -free : free));
  out += Format("  system area              0x%06llX-0x%06llX %9d bytes\n", static_cast<unsigned long long>(system),
                static_cast<unsigned long long>(imageSize - 1), kSystemAreaSize);
  return out;
}

std::string MapBody(CompileState& s, const std::string& sha256, int64_t imageSize,
                    const std::vector<LinkRecord>& links);

}  // namespace

int64_t FreeSoundBytes(const CompileState& s) {
  const int64_t soundEnd = static_cast<int64_t>(SoundAreaBase(s)) - s.Offset + s.NextSoundStart;
  return SystemAreaStart(s.FileSize) - soundEnd - (SoundBytesNeeded(s) - s.NextSoundStart);
}

void MapLink(CompileState& s, int32_t section, const char* sound, int32_t rate, int32_t flag) {
  s.Links.push_back({section, sound != nullptr ? sound : "", rate, flag});
}

void NoteScriptLink(CompileState& s, int32_t section, const char* sound, int32_t rate, int32_t flag) {
  s.ScriptLinks.push_back({section, sound != nullptr ? sound : "", rate, flag});
}

std::string ImageMapText(CompileState& s, const std::string& sha256, int64_t imageSize) {
  return Format("qs71gen map of %s\n", s.ArgCount > 2 ? s.Args[2].c_str() : "") + MapBody(s, sha256, imageSize, s.Links);
}

std::string FailedMapText(CompileState& s) {
  std::string out = Format("qs71gen map of %s\n", s.ArgCount > 2 ? s.Args[2].c_str() : "");
  out += "FAILED: no image written\n";
  for (const std::string& error : s.Reports.errors) out += "  " + error + "\n";
  if (!s.Reports.budget.empty()) out += "  " + s.Reports.budget + "\n";
  return out + MapBody(s, "", s.FileSize, s.ScriptLinks);
}

int WriteFailedMap(CompileState& s, const std::string& path) {
  CostUnimportedSounds(s);
  std::string reason;
  if (WriteOutputText(path, FailedMapText(s), &reason)) return 0;
  std::fprintf(s.Err, "qs71gen: the map %s cannot be written: %s\n", path.c_str(), reason.c_str());
  return 1;
}

namespace {

std::string MapBody(CompileState& s, const std::string& sha256, int64_t imageSize,
                    const std::vector<LinkRecord>& links) {
  std::string out = Format("script     %s\n", s.ArgCount > 1 ? s.Args[1].c_str() : "");
  out += Format("size       %lld bytes (0x%llX)\n", static_cast<long long>(imageSize),
                static_cast<unsigned long long>(imageSize));
  out += Format("sha256     %s\n", !sha256.empty()               ? sha256.c_str()
                                     : s.Reports.errors.empty() ? "(the output cannot be read back)"
                                                                : "(no image)");
  out += Format("GrpAdr     %d bytes, Offset 0x%X, SoundBase 0x%X\n\n", s.GrpAdr, static_cast<unsigned>(s.Offset),
                static_cast<unsigned>(SoundAreaBase(s)));
  out.insert(out.size() - 1, "ADPCM quality: " + AdpcmQualityLevels(s) + "\n");
  out += SoundsPart(s, links) + "\n" + MeasuresPart(s) + "\n" + SoundPressureMapPart(s);
  // A failed compile may have imported none: the codecs are tried on pass 2's blocks.
  const bool costed = std::any_of(s.Reports.sounds.begin(), s.Reports.sounds.end(),
                                  [](const SoundReport& r) { return !r.costs.empty(); });
  if (costed) out += CodecsPart(s) + "\n";
  return out + SectionsPart(s, links) + "\n" + SpacePart(s, imageSize);
}

}  // namespace

int WriteImageMap(CompileState& s, const std::string& path) {
  const std::string text = ImageMapText(s, ImageSha256(s), static_cast<int64_t>(s.FileSize));
  std::string reason;
  if (WriteOutputText(path, text, &reason)) return 0;
  std::fprintf(s.Err, "qs71gen: the map %s cannot be written: %s; no image written\n", path.c_str(),
               reason.c_str());
  return 1;
}
