#include "audio/sound_import.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ascii_case.h"
#include "audio/sound_codecs.h"
#include "audio/sound_output.h"
#include "audio/wave_input.h"
#include "clock_divider.h"
#include "compile_state.h"
#include "image/image_file.h"
#include "image_layout.h"
#include "name_tables.h"
#include "output_file.h"
#include "file_system.h"
#include "result_codes.h"
#include "sound_report.h"
#include "sound_kinds.h"
#include "text_format.h"
#include "warnings.h"
#include "wrap_math.h"

namespace {

// Two PCM16 sounds of fixed names are the chip's ramp sounds; the header words at 8 and 12 tell
// it where they lie and with which clock divider to play them.
struct RampSound {
  const char* name;
  int32_t headerPosition;
  int32_t CompileState::*done;
};

const RampSound kRamps[] = {
    {"RampDec", kRampDecWordPos, &CompileState::RampDecDone},
    {"RampInc", kRampIncWordPos, &CompileState::RampIncDone},
};

const RampSound* FindRamp(const char* name) {
  for (const RampSound& r : kRamps) {
    if (EqualsNoCase(name, r.name)) return &r;
  }
  return nullptr;
}

int32_t FilePosition(CompileState& s, int32_t relative) {
  return SoundFilePosition(s.Offset, s.SoundBase, relative);
}

int WriteRampWord(CompileState& s, const RampSound& ramp, const SoundDef& sound,
                  std::string* listing) {
  if (sound.kind != KindPcm16) return ErrInternal;
  uint32_t word = 0;
  int r = RampWord(s, FilePosition(s, sound.start), &word);
  if (r != ErrNone) return r;
  *listing += Format("******* %s: start from %06xh to %06xh in %d Hz.\n", ramp.name,
                     static_cast<unsigned>(FilePosition(s, sound.start)),
                     static_cast<unsigned>(FilePosition(s, sound.end)), s.Ramp_Rate);
  r = ImageWriteWordAt(ImageOf(s), ramp.headerPosition, word);
  if (r != ErrNone) return r;
  s.*ramp.done = 1;
  return ImageFlush(ImageOf(s));
}

// The system area is compared by chip address, without Offset, as the chip tools always did.
bool ReachesSystemArea(CompileState& s, const SoundDef& sound) {
  return WrapAdd(s.SoundBase, sound.end) >= SystemAreaStart(s.FileSize);
}

// The rate only serves as a warning when a script mixes files of different rates; the image
// stores no rate. With --resample every sound is brought to the rate it plays at, so files of
// different rates are no news there.
void ListRate(CompileState& s, uint32_t fileRate, std::string* listing) {
  const int32_t rate = static_cast<int32_t>(fileRate);
  if (s.WaveRate == 0) {
    *listing += Format("Find Sample Rate %d Hz in wave.\n", rate);
  } else if (s.WaveRate != rate && !s.Prep.options.resample) {
    *listing += Format("Find different Sample Rate %d Hz in wave!\n", rate);
  }
  s.WaveRate = rate;
}

int Refused(CompileState& s, int code, const std::string& detail) {
  if (!detail.empty()) SetErrorDetail(s, "%s", detail.c_str());
  return code;
}

PreparationRecord* FindRecord(CompileState& s, const std::string& name) {
  auto it = s.Prep.records.find(AsciiLowerCopy(name));
  return it == s.Prep.records.end() ? nullptr : &it->second;
}

const SoundSettings* OwnSettings(CompileState& s, const std::string& name) {
  auto it = s.Prep.own.find(AsciiLowerCopy(name));
  return it == s.Prep.own.end() ? nullptr : &it->second;
}

// The options a sound is prepared with: the defaults, with its own settings over them (checked
// when the project was read).
PreparationOptions OptionsOf(CompileState& s, const std::string& name) {
  PreparationOptions options = s.Prep.options;
  std::string error;
  if (const SoundSettings* own = OwnSettings(s, name)) ApplySoundSettings(*own, &options, &error);
  return options;
}

// Pass 2 of a prepared sound: its 16-bit samples from the prepared file, already scaled.
// Stores a sound's samples in the image; with the map asked for, every codec is tried on the
// same blocks (against the samples the encoder is given, prepared or not).
int StoreMetered(CompileState& s, const SoundDef& sound, const SoundCodec& codec, SampleReader* reader,
                 double scale, std::string* listing, LevelMeter* levels = nullptr) {
  const int quality = AdpcmQualityOf(s, sound.name);
  CodecMeter codecs(quality);
  const int r = StoreSound(ImageOf(s), codec, reader,
                           {s.Offset, s.SoundBase, sound.start, sound.end, sound.name.c_str(),
                            sound.text.c_str(), scale, listing, quality,
                            s.Reports.codecCosts ? &codecs : nullptr, levels});
  if (r == ErrNone && s.Reports.codecCosts && codec.encode != nullptr) NoteCodecCosts(s, sound.name, codecs);
  return r;
}

int ImportPrepared(CompileState& s, const SoundDef& sound, const SoundCodec& codec,
                   std::string* listing) {
  const PreparationRecord* record = FindRecord(s, sound.name);
  if (record == nullptr) return ErrInternal;
  if (!record->refusal.empty()) return Refused(s, record->cutShort ? ErrRead : ErrWaveFile, record->refusal);
  if (s.Prep.files.prepared == nullptr) return ErrInternal;
  ListRate(s, static_cast<uint32_t>(record->source.rate), listing);
  if (std::fseek(s.Prep.files.prepared, static_cast<long>(record->offset), SEEK_SET) != 0) return ErrRead;
  const WaveHeader header{1, static_cast<uint32_t>(record->playedRate), 16,
                          static_cast<int32_t>(record->frames * 2)};
  SampleReader reader;
  const int r = StartSamples(&reader, s.Prep.files.prepared, header);
  return r != ErrNone ? r : StoreMetered(s, sound, codec, &reader, 1.0, listing);
}

// The rate a sound is prepared for: the highest its links play at (a ramp sound plays at
// the ramp rate), its own when nothing links it or nothing asks for resampling.
int32_t PreparedRate(CompileState& s, const char* name, const PreparationRecord& record, int line) {
  if (!s.Prep.options.resample) return 0;
  std::vector<int32_t> asked = record.linkRates;
  if (FindRamp(name) != nullptr) asked.push_back(s.Ramp_Rate);
  std::vector<int32_t> played;
  for (int32_t rate : asked) {
    PlayedRate p{};
    if (ChipPlayedRate(s.MainClk, rate, &p) && std::find(played.begin(), played.end(), p.hz) == played.end()) {
      played.push_back(p.hz);
    }
  }
  if (played.empty()) return 0;
  const int32_t highest = *std::max_element(played.begin(), played.end());
  if (played.size() > 1) {
    std::string others;
    for (int32_t hz : played) {
      if (hz != highest) others += Format("%s%d Hz", others.empty() ? "" : ", ", hz);
    }
    Warn(s, line, "sound %s is played at %d Hz and also at %s; it is resampled for %d Hz, so it "
         "plays at another pitch and speed at the others", name, highest, others.c_str(), highest);
  }
  return highest;
}

// The scratch files sit beside the image, which is where a compile may write; beside the
// script when the image goes to a pipe or a device, whose folder is no place for files.
bool OpenPreparationFiles(CompileState& s, std::string* reason) {
  PreparationState& p = s.Prep;
  const FileKind output = IdentifyFile(s.Args[2].c_str()).kind;
  const std::string& beside = output == FileKind::Regular || output == FileKind::Missing ? s.Args[2] : s.Args[1];
  if (p.files.stage == nullptr) p.files.stage = CreateScratchBeside(beside, &p.stageName, reason);
  if (p.files.stage != nullptr && p.files.prepared == nullptr) {
    p.files.prepared = CreateScratchBeside(beside, &p.preparedName, reason);
  }
  return p.files.prepared != nullptr;
}

// Under this much short of the target, the limiter's trials count as reaching it.
constexpr double kLimitedShortfallLufs = 0.5;

void WarnAboutLoudness(CompileState& s, const PreparationOptions& options, const char* name,
                       const PreparationRecord& r, int line) {
  if (!options.loudness && r.ceilingReached) {
    Warn(s, line, "sound %s (%s) is raised by only %+.2f dB of the %+g dB of its gain: the -1 dBFS peak "
         "ceiling holds it there", name, r.file.c_str(), r.gainDb, options.gainDb);
  }
  if (!options.loudness) return;
  if (!r.measured) {
    Warn(s, line, "sound %s (%s) is too short (under 0.4 s) or too quiet (under -70 LUFS) to "
         "measure its loudness; it keeps its level", name, r.file.c_str());
  } else if (r.ceilingReached) {
    Warn(s, line, "sound %s (%s) reaches only %.2f LUFS of the %g LUFS asked for: the -1 dBFS "
         "peak ceiling holds it there", name, r.file.c_str(), r.loudnessAfter, options.TargetLufs());
  } else if (options.limit && r.loudnessAfter < options.TargetLufs() - kLimitedShortfallLufs) {
    Warn(s, line, "sound %s (%s) reaches only %.2f LUFS of the %g LUFS asked for: it is as dense as the "
         "--limit %g dBFS ceiling allows", name, r.file.c_str(), r.loudnessAfter, options.TargetLufs(),
         options.limitDbfs);
  }
}

int ImportWave(CompileState& s, const SoundDef& sound, const SoundCodec& codec,
               std::string* listing) {
  if (s.Prep.options.Active()) return ImportPrepared(s, sound, codec, listing);
  WaveHeader header;
  int r = OpenSoundWave(s, sound, &header, listing);
  SampleReader reader;
  if (r == ErrNone) r = StartSamples(&reader, s.Wave, header);
  if (r == ErrRead) Refused(s, r, CutShortDetail(sound.text));
  // The levels are taken on the way, unless pass 1 measured them already.
  SoundReport* pending = PendingReport(s, sound.name);
  LevelMeter levels;
  if (r == ErrNone) r = StoreMetered(s, sound, codec, &reader, s.Scale, listing, pending != nullptr ? &levels : nullptr);
  if (r == ErrNone && pending != nullptr) KeepImportedLevels(pending, levels, reader.frames, header.rate);
  if (s.Wave != nullptr) std::fclose(s.Wave);
  s.Wave = nullptr;
  return r;
}

// What a listening copy would be written over: the script, a wave file named so far, or an
// output of the run. A folder of recordings named as the sounds are would otherwise lose them.
std::string KeptCopyClash(CompileState& s, const std::string& kept) {
  const FileIdentity copy = IdentifyFile(kept.c_str());
  if (SameFile(copy, IdentifyInput(s.Args[1].c_str()))) return "the script";
  for (const auto& entry : s.Prep.records) {
    if (SameFile(copy, IdentifyInput(entry.second.file.c_str()))) return "the wave file " + entry.second.file;
  }
  return OutputAt(s, kept);
}

}  // namespace

bool IsRampSound(const char* name) { return FindRamp(name) != nullptr; }

int AdpcmQualityOf(CompileState& s, const std::string& name) {
  const SoundSettings* own = OwnSettings(s, name);
  return own != nullptr && own->adpcmQuality >= 0 ? own->adpcmQuality : s.AdpcmQuality;
}

std::string AdpcmQualityLevels(CompileState& s) {
  std::vector<std::string> own;
  for (const auto& entry : s.Prep.own) {
    const SoundSettings& settings = entry.second;
    if (settings.adpcmQuality >= 0 && settings.adpcmQuality != s.AdpcmQuality) {
      own.push_back(Format("%s: %d", settings.name.c_str(), settings.adpcmQuality));
    }
  }
  // The settings are kept by a hash of the name; the text must not depend on it.
  std::sort(own.begin(), own.end());
  std::string text = std::to_string(s.AdpcmQuality);
  for (size_t i = 0; i < own.size(); ++i) text += (i == 0 ? " (" : ", ") + own[i];
  return own.empty() ? text : text + ")";
}

int OpenSoundWave(CompileState& s, const SoundDef& sound, WaveHeader* header,
                  std::string* listing) {
  std::string detail;
  int r = OpenWaveFile(sound.text, &s.Wave, &detail);
  if (r != ErrNone) return Refused(s, r, detail);
  r = CheckWaveHeader(s.Wave, sound.text.c_str(), header, &detail);
  if (r != ErrNone) return Refused(s, r, detail);
  ListRate(s, header->rate, listing);
  return ErrNone;
}

int DefinePreparedSound(CompileState& s, const SoundDef& sound, std::string* listing) {
  PreparationRecord record;
  record.file = sound.text;
  std::string reason;
  const bool readable = ProbeSource(sound.text, &record.source, &reason);
  if (readable) ListRate(s, static_cast<uint32_t>(record.source.rate), listing);
  else record.refusal = Format("sound %s: %s cannot be read: %s", sound.name.c_str(), sound.text.c_str(), reason.c_str());
  // libsndfile reads a wave file cut short as far as it goes; the unprepared path refuses it as
  // a read error, and a prepared sound must not quietly lose its end either.
  const std::string cut = readable ? CutShortDetail(sound.text) : "";
  if (!cut.empty()) record.refusal = cut, record.cutShort = true;
  // Like a refused wave file, an unreadable one is reported where pass 2 imports it.
  const int r = record.refusal.empty() ? ErrNone : Refused(s, ErrWaveFile, record.refusal);
  s.Prep.records.insert_or_assign(AsciiLowerCopy(sound.name), std::move(record));
  return r;
}

void NotePreparedLink(CompileState& s, const char* name, int32_t rate) {
  PreparationRecord* record = FindRecord(s, name);
  if (record == nullptr) return;
  std::vector<int32_t>& rates = record->linkRates;
  if (std::find(rates.begin(), rates.end(), rate) == rates.end()) rates.push_back(rate);
}

int PrepareDefinedSound(CompileState& s, const char* name, int line) {
  PreparationRecord* record = FindRecord(s, name);
  SoundDef* sound = const_cast<SoundDef*>(FindSound(s, name));
  if (record == nullptr || sound == nullptr || !KindHasData(sound->kind) || !record->refusal.empty()) return ErrNone;
  const PreparationOptions options = OptionsOf(s, sound->name);
  const std::string kept = options.keepDir.empty() ? "" : options.keepDir + "/" + sound->name + ".wav";
  PreparationJob job{&options, record->file, sound->kind, PreparedRate(s, name, *record, line), s.Scale, kept,
                     AdpcmQualityOf(s, sound->name)};
  if (s.ProbeSoundsOnly) {
    record->playedRate = job.rate > 0 ? job.rate : record->source.rate;
    return ErrNone;
  }
  const std::string clash = kept.empty() ? "" : KeptCopyClash(s, kept);
  if (!clash.empty()) {
    record->refusal = Format("sound %s: --keep-prepared would write its prepared copy %s over %s; nothing was "
                             "written there: choose a folder that holds none of the run's files",
                             name, kept.c_str(), clash.c_str());
    return Refused(s, ErrWaveFile, record->refusal);
  }
  std::string reason;
  if (!OpenPreparationFiles(s, &reason) || !PrepareSound(job, s.Prep.files, record, &reason)) {
    record->refusal = Format("sound %s (%s) cannot be prepared: %s", name, record->file.c_str(), reason.c_str());
    return Refused(s, ErrWaveFile, record->refusal);
  }
  WarnAboutLoudness(s, options, name, *record, line);
  for (const PreparationNote& note : record->notes) {
    AdviseSound(s, line, name, note.clipped ? SoundBadge::Clipped : SoundBadge::None, "sound %s (%s): %s", name,
                record->file.c_str(), note.text.c_str());
  }
  ReserveSoundRange(s, sound, record->frames);
  return ErrNone;
}

void AdviseLoudnessReach(CompileState& s) {
  const PreparationOptions& options = s.Prep.options;
  if (!options.loudness || options.limit) return;
  int stopped = 0, measured = 0;
  double reach = HUGE_VAL;
  for (const auto& entry : s.Prep.records) {
    const PreparationRecord& r = entry.second;
    if (!r.refusal.empty() || !r.measured) continue;
    ++measured;
    stopped += r.ceilingReached ? 1 : 0;
    reach = std::min(reach, r.reachLufs);
  }
  if (stopped == 0) return;
  // A tenth lower, so that the figure given is one every sound reaches in full.
  const double every = std::floor(reach * 10) / 10;
  Advise(s, 0, "%d of %d sounds stop at the -1 dBFS peak ceiling below %g LUFS; every sound reaches %.1f LUFS: "
         "give --loudness %.1f to match them all, or --limit -1 to have a limiter hold the peaks instead",
         stopped, measured, options.loudnessLufs, every, every);
}

void ReleasePreparation(CompileState& s) {
  PreparationState& p = s.Prep;
  if (p.files.stage != nullptr) DiscardScratch(p.files.stage, p.stageName);
  if (p.files.prepared != nullptr) DiscardScratch(p.files.prepared, p.preparedName);
  p.files = {};
}

int RampWord(CompileState& s, int32_t position, uint32_t* word) {
  // The upper 24 bits of the header word are all the chip has to find the ramp with.
  if (position < 0 || position > 0xFFFFFF) return ErrRampPosition;
  int32_t divider = 0;
  if (!ClockDivider(s.MainClk, s.Ramp_Rate, &divider)) return ErrRampRate;
  *word = EncodeHeaderWord(static_cast<uint32_t>(position), divider);
  return ErrNone;
}

int ImportSound(CompileState& s, const char* name, std::string* listing) {
  const SoundDef* sound = FindSound(s, name);
  if (sound == nullptr) return ErrInternal;
  if (const RampSound* ramp = FindRamp(name)) {
    int r = WriteRampWord(s, *ramp, *sound, listing);
    if (r != ErrNone) return r;
  }
  const SoundKindInfo* kind = FindSoundKind(sound->kind);
  if (kind == nullptr) return ErrInternal;
  if (!KindHasData(sound->kind)) return ErrNone;
  if (ReachesSystemArea(s, *sound)) {
    *listing += Format("%s[%06x:%06x] %s = %s  \n", kind->label,
                       static_cast<unsigned>(sound->start),
                       static_cast<unsigned>(sound->end), sound->name.c_str(), sound->text.c_str());
    return ErrSystemArea;
  }
  const SoundCodec* codec = FindCodec(sound->kind);
  return codec != nullptr ? ImportWave(s, *sound, *codec, listing) : ErrInternal;
}

PreparationOptions SoundPreparationOptions(CompileState& s, const std::string& name) { return OptionsOf(s, name); }
