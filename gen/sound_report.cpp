#include "sound_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "ascii_case.h"
#include "audio/sound_codecs.h"
#include "audio/sound_import.h"
#include "audio/sound_preparation.h"
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
// Fewer samples at full scale are a peak that touches it (a ramp's ends, a take normalised to
// 0 dBFS), not a waveform cut off.
constexpr int64_t kClippedTake = 3;
// Sounds of one toy are heard one after another: beyond this, one sounds out of place.
constexpr double kLevelSpreadDb = 12.0;

// Every sample of the reader through the level meter and, when given, the codec meter.
bool ReadAllSamples(SampleReader* reader, double scale, LevelMeter* levels, CodecMeter* codecs = nullptr) {
  size_t n = 0;
  int r = ErrNone;
  while ((r = ReadSampleBlock(reader, scale, &n)) == ErrNone && n > 0) {
    if (levels != nullptr) MeterBlock(levels, reader->samples.data(), n);
    if (codecs != nullptr) MeterCodecs(codecs, reader->samples.data(), n, reader->done >= reader->frames);
  }
  return r == ErrNone;
}

void Keep(const LevelMeter& meter, SoundReport* report) {
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
  LevelMeter meter;
  if (CheckWaveHeader(file, def.text.c_str(), &header, &detail) != ErrNone) {
    report->refusedBytes = KindBytesOf(def.kind, RefusedWaveFrames(file));
  } else if (StartSamples(&reader, file, header) == ErrNone) {
    report->fileRate = header.rate;
    if (ReadAllSamples(&reader, s.Scale, &meter)) Keep(meter, report);
  }
  std::fclose(file);
}

// A prepared sound's samples, where the preparation left them for the import.
bool StartPrepared(const CompileState& s, const PreparationRecord& record, SampleReader* reader) {
  FILE* file = s.Prep.files.prepared;
  if (file == nullptr || std::fseek(file, static_cast<long>(record.offset), SEEK_SET) != 0) return false;
  const WaveHeader header{1, static_cast<uint32_t>(record.playedRate), 16, static_cast<int32_t>(record.frames * 2)};
  return StartSamples(reader, file, header) == ErrNone;
}

// A prepared sound's source is read as the preparation reads it (24-bit, float, AIFF, FLAC),
// without the script's scale, which belongs to the prepared samples; the prepared samples are
// what the import will store.
// The preparation took both as it ran; a file is read here only where it did not get that far.
void MeasurePreparedSound(CompileState& s, const SoundDef& def, SoundReport* report) {
  LevelMeter source;
  std::string reason;
  auto it = s.Prep.records.find(AsciiLowerCopy(def.name));
  if (it != s.Prep.records.end() && it->second.sourceMetered) Keep(it->second.sourceLevels, report);
  else if (MeterSource(def.text, &source, &reason)) Keep(source, report);
  if (it != s.Prep.records.end()) report->fileRate = static_cast<uint32_t>(it->second.source.rate);
  const PreparationRecord* record = PreparedRecord(s, def.name);
  SampleReader reader;
  LevelMeter prepared;
  if (record == nullptr) return;
  if (record->preparedMetered) prepared = record->preparedLevels;
  else if (!StartPrepared(s, *record, &reader) || !ReadAllSamples(&reader, 1.0, &prepared)) return;
  report->prepared = true;
  report->preparedRate = static_cast<uint32_t>(record->playedRate);
  report->preparedLevels = LevelsOf(prepared);
}

std::string Db(double db) { return std::isfinite(db) ? Format("%.1f", db) : "-inf"; }

std::string Ms(int64_t samples, uint32_t rate) {
  return rate > 0 ? Format("%.0f ms", 1000.0 * static_cast<double>(samples) / rate) : "-";
}

double Seconds(int64_t samples, uint32_t rate) { return rate > 0 ? static_cast<double>(samples) / rate : 0.0; }

void WarnClipped(CompileState& s, const SoundReport& r, const SoundDef& def) {
  if (r.levels.clipped < kClippedTake) return;
  AdviseSound(s, r.line, r.name, SoundBadge::Clipped, "%s has %lld samples clipped at full scale (at or within %.1f dB of it); the chip plays them "
         "as distortion: use a take recorded lower", def.text.c_str(), static_cast<long long>(r.levels.clipped),
         kClipWithinDb);
}

std::string SilentEnds(const SoundLevels& levels, uint32_t rate) {
  const double lead = Seconds(levels.leadingSilence, rate);
  const double trail = Seconds(levels.trailingSilence, rate);
  std::string ends;
  if (lead > kLongSilenceSeconds) ends = Format("%.0f ms at its start", lead * 1000.0);
  if (trail > kLongSilenceSeconds) {
    ends += Format("%s%.0f ms at its end", ends.empty() ? "" : " and ", trail * 1000.0);
  }
  return ends;
}

// The silence the chip would play, in the bytes the image stores it in: a prepared sound's at
// the rate it was resampled to and after its trim.
void WarnSilence(CompileState& s, const SoundReport& r, const SoundDef& def) {
  const SoundLevels& levels = PlayedLevels(r);
  const std::string ends = SilentEnds(levels, PlayedSampleRate(r));
  if (ends.empty()) return;
  const int64_t bytes = KindBytesOf(def.kind, levels.leadingSilence + levels.trailingSilence);
  if (!r.prepared) {
    const std::string file = HintPath(def.text);
    AdviseSound(s, r.line, r.name, SoundBadge::SilenceLeft, "%s is silent (below %.0f dBFS) for %s, %lld bytes of OTP: trim it with "
           "`sox %s out.wav silence 1 0.01 -60d reverse silence 1 0.01 -60d reverse`",
           def.text.c_str(), kSilenceDbfs, ends.c_str(), static_cast<long long>(bytes), file.c_str());
  } else if (!s.Prep.options.trim) {
    AdviseSound(s, r.line, r.name, SoundBadge::SilenceLeft, "%s is silent (below %.0f dBFS) for %s as prepared, %lld bytes of OTP: trim it with "
           "--trim %.0f", def.text.c_str(), kSilenceDbfs, ends.c_str(), static_cast<long long>(bytes), kSilenceDbfs);
  } else {
    const PreparationOptions& o = s.Prep.options;
    const std::string trim = o.trimFromPeak ? TrimLevelText(o) : Format("%g", o.trimDbfs);
    AdviseSound(s, r.line, r.name, SoundBadge::SilenceLeft, "%s is still silent (below %.0f dBFS) for %s after --trim %s, %lld bytes of OTP: its noise "
           "or a click there stays above the trim's level", def.text.c_str(), kSilenceDbfs, ends.c_str(),
           trim.c_str(), static_cast<long long>(bytes));
  }
}

double MedianRms(const std::vector<SoundReport>& reports, int* count) {
  std::vector<double> levels;
  for (const SoundReport& r : reports) {
    if ((r.measured || r.prepared) && std::isfinite(PlayedLevels(r).rmsDbfs)) levels.push_back(PlayedLevels(r).rmsDbfs);
  }
  *count = static_cast<int>(levels.size());
  return levels.empty() ? 0.0 : Median(std::move(levels));
}

void WarnLevels(CompileState& s) {
  int count = 0;
  const double median = MedianRms(s.Reports.sounds, &count);
  if (count < 2) return;
  for (const SoundReport& r : s.Reports.sounds) {
    const double rms = PlayedLevels(r).rmsDbfs;
    if ((!r.measured && !r.prepared) || !std::isfinite(rms)) continue;
    const double off = rms - median;
    if (std::fabs(off) <= kLevelSpreadDb) continue;
    AdviseSound(s, r.line, r.name, off < 0 ? SoundBadge::TooQuiet : SoundBadge::None, "sound %s is %.1f dBFS RMS, %.1f dB %s the median of the image's %d sounds "
           "(%.1f dBFS): bring it to the others' level, unless it is meant to stand out (a jingle "
           "may be louder than speech)", r.name.c_str(), rms, std::fabs(off),
           off > 0 ? "above" : "below", count, median);
  }
}

bool Reported(const CompileState& s, const std::string& name) { return FindSoundReport(s, name) != nullptr; }

// The bytes a sound takes in the image, or would take once its file is accepted.
int64_t SoundBytes(const SoundDef& def, const SoundReport* report) {
  if (report != nullptr && report->refusedBytes > 0) return report->refusedBytes;
  return KindHasData(def.kind) ? static_cast<int64_t>(def.end) - def.start + 1 : 0;
}

// A sound as the space budget sees it: its bytes as stored now (or once its file is accepted),
// its samples and their rate (0 when unknown: such a sound is never resampled).
struct Budgeted {
  const SoundDef* def;
  int64_t bytes;
  int64_t samples;
  double rate;
};

// Every sound the script defines, overflowed or refused alike: a prepared one at the rate the
// preparation stored it, another at its file's.
std::vector<Budgeted> BudgetedSounds(const CompileState& s) {
  std::vector<Budgeted> sounds;
  for (const auto& def : s.Names.sounds) {
    const SoundReport* report = FindSoundReport(s, def->name);
    const int64_t bytes = SoundBytes(*def, report);
    const SoundKindInfo* kind = FindSoundKind(def->kind);
    const int64_t samples = KindHasData(def->kind) && kind != nullptr ? KindSamplesIn(*kind, bytes) : 0;
    const PreparationRecord* record = PreparedRecord(s, def->name);
    const double rate = record != nullptr ? record->playedRate : report != nullptr ? report->fileRate : 0;
    sounds.push_back({def.get(), bytes, samples, rate});
  }
  return sounds;
}

bool Recodable(int32_t kind) { return kind == KindPcm8 || kind == KindPcm16 || kind == KindUlaw; }

// The rate a sound lowered to a common rate is stored at: that rate for a file the designer
// resamples; with preparation, the rate the chip plays a link at that rate, which --resample
// resamples to (11130 Hz for 11025).
double StoredRateFor(const CompileState& s, int32_t common) {
  PlayedRate played{};
  if (!s.Prep.options.Active() || !ChipPlayedRate(s.MainClk, common, &played)) return common;
  return played.hz;
}

constexpr double kKeepRate = HUGE_VAL;

double BytesAt(const Budgeted& sound, double target, bool adpcm) {
  const double bytes = static_cast<double>(adpcm ? KindBytesOf(KindAdpcm, sound.samples) : sound.bytes);
  return sound.rate > target ? bytes * target / sound.rate : bytes;
}

// The sounds above target lowered to it, then, when recoding is allowed, those stored wider
// than ADPCM turned to ADPCM, the largest saving first, until the sounds fit room.
struct Plan {
  double needed = 0;
  double saved = 0;  // by the recoding
  std::string lowered, recoded;  // names, comma-separated
};

Plan PlanAt(const std::vector<Budgeted>& sounds, double target, bool recode, int64_t room) {
  Plan plan;
  std::vector<std::pair<double, const Budgeted*>> savings;
  for (const Budgeted& sound : sounds) {
    plan.needed += BytesAt(sound, target, false);
    if (sound.rate > target) plan.lowered += (plan.lowered.empty() ? "" : ", ") + sound.def->name;
    if (recode && Recodable(sound.def->kind)) {
      savings.push_back({BytesAt(sound, target, false) - BytesAt(sound, target, true), &sound});
    }
  }
  std::stable_sort(savings.begin(), savings.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& [saving, sound] : savings) {
    if (plan.needed <= static_cast<double>(room)) break;
    plan.needed -= saving;
    plan.saved += saving;
    plan.recoded += (plan.recoded.empty() ? "" : ", ") + sound->def->name;
  }
  return plan;
}

bool Fits(const Plan& plan, int64_t room) { return plan.needed <= static_cast<double>(room); }

// Sounds stored in a wider codec than ADPCM, the largest saving first, as far as needed.
std::string CodecFit(const std::vector<Budgeted>& sounds, int64_t room) {
  const Plan plan = PlanAt(sounds, kKeepRate, true, room);
  if (!Fits(plan, room) || plan.recoded.empty()) return "";
  return Format("store %s as ADPCM (saves %.0f bytes)", plan.recoded.c_str(), plan.saved);
}

// How the sounds come to a common rate: a designer resamples a file; with preparation, a link
// at the rate has --resample do it, at the rate the chip plays.
std::string Lowering(const CompileState& s, const std::string& which, int32_t common) {
  if (!s.Prep.options.Active()) return Format("resample %s to %d Hz", which.c_str(), common);
  return Format("link %s at %d Hz%s", which.c_str(), common, s.Prep.options.resample ? "" : " with --resample");
}

std::string PlayedAt(int32_t common, double stored) {
  return stored != common ? Format("played at %.0f Hz", stored) : "";
}

// The highest common rate at which every sound above it, lowered to it, leaves the rest fitting.
std::string RateFit(const CompileState& s, const std::vector<Budgeted>& sounds, int64_t room) {
  for (auto it = kCommonRates.rbegin(); it != kCommonRates.rend(); ++it) {
    const double stored = StoredRateFor(s, *it);
    const Plan plan = PlanAt(sounds, stored, false, room);
    if (plan.lowered.empty() || !Fits(plan, room)) continue;
    if (!s.Prep.options.Active()) {
      return Format("resample the sounds above %d Hz to %d Hz (about %.0f bytes)", *it, *it, plan.needed);
    }
    const std::string played = PlayedAt(*it, stored);
    return Format("%s (%s%sabout %.0f bytes)", Lowering(s, Format("the sounds stored above %.0f Hz", stored), *it).c_str(),
                  played.c_str(), played.empty() ? "" : ": ", plan.needed);
  }
  return "";
}

// Where neither change alone fits: the highest common rate at which turning some sounds to
// ADPCM as well makes them fit.
std::string MixedFit(const CompileState& s, const std::vector<Budgeted>& sounds, int64_t room) {
  for (auto it = kCommonRates.rbegin(); it != kCommonRates.rend(); ++it) {
    const double stored = StoredRateFor(s, *it);
    const Plan plan = PlanAt(sounds, stored, true, room);
    if (plan.lowered.empty() || plan.recoded.empty() || !Fits(plan, room)) continue;
    const std::string played = PlayedAt(*it, stored);
    return Format("%s%s%s%s and store %s as ADPCM: about %.0f bytes free", Lowering(s, plan.lowered, *it).c_str(),
                  played.empty() ? "" : " (", played.c_str(), played.empty() ? "" : ")", plan.recoded.c_str(),
                  static_cast<double>(room) - plan.needed);
  }
  return "";
}

std::string FitHere(const CompileState& s, int64_t room) {
  const std::vector<Budgeted> sounds = BudgetedSounds(s);
  const std::string rate = RateFit(s, sounds, room);
  const std::string codec = CodecFit(sounds, room);
  if (!rate.empty() && !codec.empty()) return "to fit this part, " + rate + ", or " + codec;
  if (!rate.empty() || !codec.empty()) return "to fit this part, " + rate + codec;
  const std::string mixed = MixedFit(s, sounds, room);
  if (!mixed.empty()) return "to fit this part, " + mixed;
  return "on this part, no codec change nor a common rate of 8000 Hz or more, alone or together, makes them fit";
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

const PreparationRecord* PreparedRecord(const CompileState& s, const std::string& name) {
  auto it = s.Prep.records.find(AsciiLowerCopy(name));
  if (it == s.Prep.records.end() || !it->second.refusal.empty() || it->second.frames == 0) return nullptr;
  return &it->second;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

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

const SoundLevels& PlayedLevels(const SoundReport& report) {
  return report.prepared ? report.preparedLevels : report.levels;
}

uint32_t PlayedSampleRate(const SoundReport& report) { return report.prepared ? report.preparedRate : report.fileRate; }

std::string LevelsSummary(const SoundLevels& levels, uint32_t rate) {
  return Format("peak %s, RMS %s dBFS, %lld clipped, silent %s at the start, %s at the end", Db(levels.peakDbfs).c_str(),
                Db(levels.rmsDbfs).c_str(), static_cast<long long>(levels.clipped),
                Ms(levels.leadingSilence, rate).c_str(), Ms(levels.trailingSilence, rate).c_str());
}

// The import tries every codec on its blocks; these are the sounds it never reached, read
// again here so that a failed compile's map still compares the codecs for each of them.
void CostUnimportedSounds(CompileState& s) {
  if (!s.Reports.codecCosts) return;
  for (SoundReport& report : s.Reports.sounds) {
    const SoundDef* def = FindSound(s, report.name.c_str());
    const SoundCodec* codec = def != nullptr ? FindCodec(def->kind) : nullptr;
    if (!report.costs.empty() || codec == nullptr || codec->encode == nullptr) continue;
    CodecMeter codecs(AdpcmQualityOf(s, def->name));
    SampleReader reader;
    FILE* file = nullptr;
    bool read = false;
    if (const PreparationRecord* record = PreparedRecord(s, def->name)) {
      read = StartPrepared(s, *record, &reader) && ReadAllSamples(&reader, 1.0, nullptr, &codecs);
    } else if (!s.Prep.options.Active() && report.measured) {
      WaveHeader header;
      std::string detail;
      read = OpenWaveFile(def->text, &file, &detail) == ErrNone &&
             CheckWaveHeader(file, def->text.c_str(), &header, &detail) == ErrNone &&
             StartSamples(&reader, file, header) == ErrNone && ReadAllSamples(&reader, s.Scale, nullptr, &codecs);
    }
    if (file != nullptr) std::fclose(file);
    if (read) report.costs = CodecCostsOf(codecs);
  }
}

bool ReadPreparedSound(const CompileState& s, const std::string& name, int64_t maxFrames, MonoSource* sound) {
  const PreparationRecord* record = PreparedRecord(s, name);
  SampleReader reader;
  if (record == nullptr || !StartPrepared(s, *record, &reader)) return false;
  sound->rate = record->playedRate;
  sound->frames = record->frames;
  if (sound->frames > maxFrames) return true;
  sound->samples.reserve(record->frames);
  size_t n = 0;
  int r = ErrNone;
  while ((r = ReadSampleBlock(&reader, 1.0, &n)) == ErrNone && n > 0) {
    sound->samples.insert(sound->samples.end(), reader.samples.begin(), reader.samples.begin() + static_cast<ptrdiff_t>(n));
  }
  return r == ErrNone;
}

namespace {

void WarnMeasures(CompileState& s) {
  for (const SoundReport& r : s.Reports.sounds) {
    const SoundDef* def = FindSound(s, r.name.c_str());
    if (def == nullptr) continue;
    WarnClipped(s, r, *def);
    WarnSilence(s, r, *def);
  }
  // The preparation sets the loudness it is asked for, and says when a sound falls short.
  if (!s.Prep.options.loudness) WarnLevels(s);
}

// Only a plain compile with no error so far is sure to reach pass 2 with every file readable;
// and the listing must not share standard error, or holding the warnings back would move them
// after lines they used to precede.
bool HoldWarningsForPassTwo(CompileState& s) {
  if (s.Prep.options.Active() || s.ErrorCount != 0 || s.Out == s.Err) return false;
  if (!HoldText(&s.Reports.held)) return false;
  s.Reports.err = s.Err;
  s.Reports.heldFrom = s.Warnings.given.size();
  s.Err = s.Reports.held.stream;
  return true;
}

}  // namespace

void MeasureSounds(CompileState& s) {
  const bool inPassTwo = HoldWarningsForPassTwo(s);
  for (const SoundUse& use : s.Statements.soundUses) {
    const SoundDef* def = FindSound(s, use.name.c_str());
    if (def == nullptr || !KindHasData(def->kind) || Reported(s, def->name)) continue;
    SoundReport report;
    report.name = def->name;
    report.line = use.line;
    report.kind = def->kind;
    if (s.Prep.options.Active()) MeasurePreparedSound(s, *def, &report);
    else if (inPassTwo) report.pending = true;
    else MeasureSoundFile(s, *def, &report);
    s.Reports.sounds.push_back(std::move(report));
  }
  if (!inPassTwo) WarnMeasures(s);
}

void SettleSoundMeasures(CompileState& s) {
  if (s.Reports.err == nullptr) return;
  s.Err = s.Reports.err;
  s.Reports.err = nullptr;
  const std::string held = ReleaseHeldText(&s.Reports.held);
  for (SoundReport& r : s.Reports.sounds) {
    const SoundDef* def = FindSound(s, r.name.c_str());
    if (r.pending && !r.measured && def != nullptr) MeasureSoundFile(s, *def, &r);
    r.pending = false;
  }
  auto& given = s.Warnings.given;
  const size_t before = given.size();
  WarnMeasures(s);
  // The page lists them where standard error has them.
  std::rotate(given.begin() + static_cast<ptrdiff_t>(s.Reports.heldFrom), given.begin() + static_cast<ptrdiff_t>(before), given.end());
  std::fwrite(held.data(), 1, held.size(), s.Err);
}

SoundReport* PendingReport(CompileState& s, const std::string& name) {
  // s is the compile's own: the report found is one to change.
  auto* r = const_cast<SoundReport*>(FindSoundReport(s, name));
  return r != nullptr && r->pending ? r : nullptr;
}

void KeepImportedLevels(SoundReport* report, const LevelMeter& levels, int64_t frames, uint32_t rate) {
  if (levels.samples != frames) return;
  Keep(levels, report);
  report->fileRate = rate;
}

int64_t SoundBytesTaken(const CompileState& s, const SoundDef& def) { return SoundBytes(def, FindSoundReport(s, def.name)); }

int32_t SoundAreaBase(const CompileState& s) {
  if (s.SoundBase != 0 || s.GrpAdr < 1 || s.GrpAdr > kMaxGrpAdr) return s.SoundBase;
  if (s.MaxSection < 0 || s.MaxSection >= kSectionCount) return s.SoundBase;
  int64_t base = GroupStart(s.MaxSection);
  for (int32_t i = 0; i <= s.MaxSection; ++i) base += int64_t{GroupEntrySize(s.GrpAdr)} * s.SecGroups[i];
  return base > INT32_MAX ? s.SoundBase : static_cast<int32_t>(base);
}

bool MeterPreparedSamples(const CompileState& s, const PreparationRecord& record, LevelMeter* levels,
                          CodecMeter* codecs) {
  SampleReader reader;
  return StartPrepared(s, record, &reader) && ReadAllSamples(&reader, 1.0, levels, codecs);
}

int64_t SoundRoom(const CompileState& s) { return int64_t{SystemAreaStart(s.FileSize)} - SoundAreaBase(s); }

int64_t SoundBytesNeeded(const CompileState& s) {
  int64_t needed = s.NextSoundStart;
  for (const SoundReport& r : s.Reports.sounds) needed += r.refusedBytes;
  return needed;
}

void WarnSpaceBudget(CompileState& s) {
  if (s.FileSize < kSystemAreaSize) return;
  const int32_t base = SoundAreaBase(s);
  const int64_t needed = SoundBytesNeeded(s);
  const int64_t room = SoundRoom(s);
  const int64_t over = needed - room;
  if (over <= 0) return;
  s.Reports.budget = Format("the sounds need %lld bytes where a part of %d bytes has room for %lld: over by %lld "
                            "bytes; %s; %s", static_cast<long long>(needed), s.FileSize,
                            static_cast<long long>(room), static_cast<long long>(over),
                            SmallestPart(needed, base).c_str(), FitHere(s, room).c_str());
  Advise(s, FileSizeLine(s), "%s", s.Reports.budget.c_str());
}
