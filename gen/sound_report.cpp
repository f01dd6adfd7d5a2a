#include "sound_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ascii_case.h"
#include "audio/wave_input.h"
#include "chip_identity.h"
#include "clock_divider.h"
#include "compile_state.h"
#include "group_entry.h"
#include "image_layout.h"
#include "file_system.h"
#include "result_codes.h"
#include "sound_kinds.h"
#include "text_format.h"
#include "warnings.h"

namespace {

// A take that starts or ends with more than this is likely padded by the recorder.
constexpr double kLongSilenceSeconds = 0.5;
// Sounds of one toy are heard one after another: beyond this, one sounds out of place.
constexpr double kLevelSpreadDb = 12.0;

void ReadAllSamples(SampleReader* reader, double scale, SoundReport* report) {
  LevelMeter meter;
  size_t n = 0;
  int r = ErrNone;
  while ((r = ReadSampleBlock(reader, scale, &n)) == ErrNone && n > 0) MeterBlock(&meter, reader->samples.data(), n);
  if (r != ErrNone) return;
  FinishMeter(&meter);
  report->levels = LevelsOf(meter);
  report->samples = meter.samples;
  report->measured = true;
}

// Reads the file on its own, block by block: pass 2 is not reached by a script with errors,
// and the levels are wanted then too. The codecs are tried in pass 2, on the import's blocks.
void MeasureSoundFile(CompileState& s, const SoundDef& def, SoundReport* report) {
  FILE* file = nullptr;
  std::string detail;
  if (OpenWaveFile(def.text, &file, &detail) != ErrNone) return;
  WaveHeader header;
  SampleReader reader;
  if (CheckWaveHeader(file, def.text.c_str(), &header, &detail) != ErrNone) {
    // Prepared sounds are read by the preparation, which takes what this reader refuses (24-bit,
    // float) and sizes them in pass 1 already.
    if (!s.Prep.options.Active()) report->refusedBytes = KindBytesOf(def.kind, RefusedWaveFrames(file));
  } else if (StartSamples(&reader, file, header) == ErrNone) {
    report->fileRate = header.rate;
    ReadAllSamples(&reader, s.Scale, report);
  }
  std::fclose(file);
}

double Seconds(int64_t samples, uint32_t rate) { return rate > 0 ? static_cast<double>(samples) / rate : 0.0; }

void WarnClipped(CompileState& s, const SoundReport& r, const SoundDef& def) {
  if (r.levels.clipped == 0) return;
  Advise(s, r.line, "%s has %lld samples clipped flat at full scale; the chip plays them as distortion: "
         "use a take recorded lower", def.text.c_str(), static_cast<long long>(r.levels.clipped));
}

std::string SilentEnds(const SoundReport& r) {
  const double lead = Seconds(r.levels.leadingSilence, r.fileRate);
  const double trail = Seconds(r.levels.trailingSilence, r.fileRate);
  std::string ends;
  if (lead > kLongSilenceSeconds) ends = Format("%.0f ms at its start", lead * 1000.0);
  if (trail > kLongSilenceSeconds) {
    ends += Format("%s%.0f ms at its end", ends.empty() ? "" : " and ", trail * 1000.0);
  }
  return ends;
}

void WarnSilence(CompileState& s, const SoundReport& r, const SoundDef& def) {
  const std::string ends = SilentEnds(r);
  if (ends.empty()) return;
  const int64_t bytes = KindBytesOf(def.kind, r.levels.leadingSilence + r.levels.trailingSilence);
  const std::string file = HintPath(def.text);
  Advise(s, r.line, "%s is silent (below %.0f dBFS) for %s, %lld bytes of OTP: trim it with "
         "`sox %s out.wav silence 1 0.01 -60d reverse silence 1 0.01 -60d reverse`",
         def.text.c_str(), kSilenceDbfs, ends.c_str(), static_cast<long long>(bytes), file.c_str());
}

double MedianRms(const std::vector<SoundReport>& reports, int* count) {
  std::vector<double> levels;
  for (const SoundReport& r : reports) {
    if (r.measured && std::isfinite(r.levels.rmsDbfs)) levels.push_back(r.levels.rmsDbfs);
  }
  *count = static_cast<int>(levels.size());
  if (levels.empty()) return 0.0;
  std::sort(levels.begin(), levels.end());
  const size_t mid = levels.size() / 2;
  return levels.size() % 2 != 0 ? levels[mid] : (levels[mid - 1] + levels[mid]) / 2.0;
}

void WarnLevels(CompileState& s) {
  int count = 0;
  const double median = MedianRms(s.Reports.sounds, &count);
  if (count < 2) return;
  for (const SoundReport& r : s.Reports.sounds) {
    if (!r.measured || !std::isfinite(r.levels.rmsDbfs)) continue;
    const double off = r.levels.rmsDbfs - median;
    if (std::fabs(off) <= kLevelSpreadDb) continue;
    Advise(s, r.line, "sound %s is %.1f dBFS RMS, %.1f dB %s the median of the image's %d sounds "
           "(%.1f dBFS): bring it to the others' level, unless it is meant to stand out (a jingle "
           "may be louder than speech)", r.name.c_str(), r.levels.rmsDbfs, std::fabs(off),
           off > 0 ? "above" : "below", count, median);
  }
}

bool Reported(const CompileState& s, const std::string& name) { return FindSoundReport(s, name) != nullptr; }

// The bytes a sound takes in the image, or would take once its file is accepted.
int64_t SoundBytes(const SoundDef& def, const SoundReport* report) {
  if (report != nullptr && report->refusedBytes > 0) return report->refusedBytes;
  return KindHasData(def.kind) ? static_cast<int64_t>(def.end) - def.start + 1 : 0;
}

struct Saving {
  const SoundDef* def;
  int64_t bytes;
};

// Sounds stored in a wider codec than ADPCM, the largest saving first, as far as needed.
std::string CodecFit(const CompileState& s, int64_t over) {
  std::vector<Saving> savings;
  for (const auto& def : s.Names.sounds) {
    if (def->kind != KindPcm8 && def->kind != KindPcm16 && def->kind != KindUlaw) continue;
    const int64_t bytes = SoundBytes(*def, FindSoundReport(s, def->name));
    const int64_t samples = KindSamplesIn(*FindSoundKind(def->kind), bytes);
    savings.push_back({def.get(), bytes - KindBytesOf(KindAdpcm, samples)});
  }
  std::stable_sort(savings.begin(), savings.end(), [](const Saving& a, const Saving& b) { return a.bytes > b.bytes; });
  std::string names;
  int64_t saved = 0;
  for (const Saving& saving : savings) {
    if (saved >= over) break;
    names += (names.empty() ? "" : ", ") + saving.def->name;
    saved += saving.bytes;
  }
  return saved >= over ? Format("store %s as ADPCM (saves %lld bytes)", names.c_str(), static_cast<long long>(saved)) : "";
}

// The highest common rate at which every sound above it, resampled to it, leaves the rest fitting.
std::string RateFit(const CompileState& s, int64_t room) {
  for (auto it = kCommonRates.rbegin(); it != kCommonRates.rend(); ++it) {
    double needed = 0.0;
    bool lowers = false;
    for (const auto& def : s.Names.sounds) {
      const SoundReport* report = FindSoundReport(s, def->name);
      double bytes = static_cast<double>(SoundBytes(*def, report));
      if (report != nullptr && report->fileRate > static_cast<uint32_t>(*it)) {
        bytes *= static_cast<double>(*it) / report->fileRate;
        lowers = true;
      }
      needed += bytes;
    }
    if (lowers && needed <= static_cast<double>(room)) {
      return Format("resample the sounds above %d Hz to %d Hz (about %.0f bytes)", *it, *it, needed);
    }
  }
  return "";
}

std::string FitHere(const CompileState& s, int64_t over, int64_t room) {
  const std::string rate = RateFit(s, room);
  const std::string codec = CodecFit(s, over);
  if (rate.empty() && codec.empty()) return "on this part, no codec change nor a common rate of 8000 Hz or more makes them fit";
  if (rate.empty() || codec.empty()) return "to fit this part, " + rate + codec;
  return "to fit this part, " + rate + ", or " + codec;
}

std::string SmallestPart(int64_t needed, int32_t base) {
  for (const qs71::OtpPart& part : qs71::OtpParts()) {
    if (int64_t{SystemAreaStart(static_cast<int32_t>(part.size))} - base >= needed) {
      return Format("the smallest part that holds them has %u bytes", part.size);
    }
  }
  return "no QS71 part holds them";
}

}  // namespace

int64_t KindBytesOf(int32_t kind, int64_t samples) {
  const SoundKindInfo* info = FindSoundKind(kind);
  return info != nullptr ? KindBytesFor(*info, static_cast<uint32_t>(samples)) : 0;
}

const SoundReport* FindSoundReport(const CompileState& s, const std::string& name) {
  for (const SoundReport& r : s.Reports.sounds) {
    if (EqualsNoCase(r.name, name)) return &r;
  }
  return nullptr;
}

void NoteCodecCosts(CompileState& s, const std::string& name, const CodecMeter& codecs) {
  for (SoundReport& r : s.Reports.sounds) {
    if (EqualsNoCase(r.name, name)) r.costs = CodecCostsOf(codecs);
  }
}

void MeasureSounds(CompileState& s) {
  for (const SoundUse& use : s.Statements.soundUses) {
    const SoundDef* def = FindSound(s, use.name.c_str());
    if (def == nullptr || !KindHasData(def->kind) || Reported(s, def->name)) continue;
    SoundReport report;
    report.name = def->name;
    report.line = use.line;
    report.kind = def->kind;
    MeasureSoundFile(s, *def, &report);
    s.Reports.sounds.push_back(std::move(report));
    WarnClipped(s, s.Reports.sounds.back(), *def);
    // The preparation cuts the silence and sets the levels it is asked for: advice on the
    // source's would only mislead.
    if (!s.Prep.options.trim) WarnSilence(s, s.Reports.sounds.back(), *def);
  }
  if (!s.Prep.options.loudness) WarnLevels(s);
}

int32_t SoundAreaBase(const CompileState& s) {
  if (s.SoundBase != 0 || s.GrpAdr < 1 || s.GrpAdr > kMaxGrpAdr) return s.SoundBase;
  if (s.MaxSection < 0 || s.MaxSection >= kSectionCount) return s.SoundBase;
  int64_t base = GroupStart(s.MaxSection);
  for (int32_t i = 0; i <= s.MaxSection; ++i) base += int64_t{GroupEntrySize(s.GrpAdr)} * s.SecGroups[i];
  return base > INT32_MAX ? s.SoundBase : static_cast<int32_t>(base);
}

int64_t SoundBytesNeeded(const CompileState& s) {
  int64_t needed = s.NextSoundStart;
  for (const SoundReport& r : s.Reports.sounds) needed += r.refusedBytes;
  return needed;
}

void WarnSpaceBudget(CompileState& s) {
  if (s.FileSize < kSystemAreaSize) return;
  const int32_t base = SoundAreaBase(s);
  const int64_t needed = SoundBytesNeeded(s);
  const int64_t room = int64_t{SystemAreaStart(s.FileSize)} - base;
  const int64_t over = needed - room;
  if (over <= 0) return;
  s.Reports.budget = Format("the sounds need %lld bytes where a part of %d bytes has room for %lld: over by %lld "
                            "bytes; %s; %s", static_cast<long long>(needed), s.FileSize,
                            static_cast<long long>(room), static_cast<long long>(over),
                            SmallestPart(needed, base).c_str(), FitHere(s, over, room).c_str());
  Advise(s, FileSizeLine(s), "%s", s.Reports.budget.c_str());
}
