#include "played_sound_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ascii_case.h"
#include "audio/mains_hum.h"
#include "audio/sound_codecs.h"
#include "audio/sound_import.h"
#include "audio/sound_preparation.h"
#include "audio/spl_weighting.h"
#include "clock_divider.h"
#include "compile_state.h"
#include "image_layout.h"
#include "name_tables.h"
#include "output_file.h"
#include "playback_rate.h"
#include "sound_decoders.h"
#include "sound_kinds.h"
#include "sound_pressure.h"
#include "sound_report.h"
#include "text_format.h"
#include "warnings.h"

namespace {

// A hum this close to the sound's RMS is heard under it; its mains line this close makes it a
// hum rather than a voice's or an instrument's harmonics at 100 to 180 Hz.
constexpr double kHumWithinDb = 20;
constexpr double kMainsLineWithinDb = 30;
// The high-pass advised takes the hum this far under the sound's RMS, each line of the three
// 4.8 dB further so that together they are.
constexpr double kHumTargetDb = 35;
constexpr int kAdvisedOrder = 6;
// Sounds of one toy are heard one after another: this much quieter than the others, one is lost.
constexpr double kQuieterDb = 6;
// A cause is named when it takes at least this much.
constexpr double kCauseDb = 1;
// Speech comes in syllables: between the loudest tenth of its 20 ms frames and the quietest
// tenth (from its first sound to its last) lie this many dB or more; a tone, a held note or a
// song's steady mix lie far closer.
constexpr double kFrameSeconds = 0.020;
constexpr double kSyllablesDb = 15;
constexpr double kSoundFromPeakDb = 40;  // a frame this far under the loudest is not yet the sound
// Prepared samples read back for the codec's share: longer ones are not.
constexpr int64_t kMostComparedFrames = int64_t{1} << 24;

// The dividers of a sound's links, each once, in the order of its first link: each is a rate
// the chip plays it at.
std::vector<uint8_t> DividersOf(const CompileState& s, const std::string& name) {
  std::vector<uint8_t> dividers;
  for (const LinkRecord& link : s.Links) {
    int32_t divider = 0;
    if (!EqualsNoCase(link.sound, name) || !ClockDivider(s.MainClk, link.rate, &divider)) continue;
    const uint8_t kept = static_cast<uint8_t>(divider & 0xFF);
    if (std::find(dividers.begin(), dividers.end(), kept) == dividers.end()) dividers.push_back(kept);
  }
  return dividers;
}

// What the chip plays of a sound: its bytes in the image, decoded with the tables the image
// stores.
std::vector<int32_t> PlayedSamples(const CompileState& s, const std::vector<uint8_t>& image, const SoundDef& def) {
  const int64_t first = int64_t{SoundAreaBase(s)} - s.Offset + def.start;
  const int64_t count = int64_t{def.end} - def.start + 1;
  const int64_t system = SystemAreaStart(s.FileSize);
  if (first < 0 || count <= 0 || first + count > system || system + kSystemAreaSize > static_cast<int64_t>(image.size())) {
    return {};
  }
  return DecodeKindRange(def.kind, image.data() + first, static_cast<size_t>(count),
                         ReadStoredCodecTables(image.data() + system));
}

// The high-pass the sound went through, at the rate of its source, where it runs.
HumHighpass HighpassOf(CompileState& s, const SoundReport& r) {
  const PreparationRecord* record = PreparedRecord(s, r.name);
  if (!s.Prep.options.Active() || record == nullptr) return {0, 0, static_cast<double>(r.fileRate)};
  const PreparationOptions options = SoundPreparationOptions(s, r.name);
  return {options.highpass ? options.highpassHz : 0, options.highpassOrder, static_cast<double>(record->source.rate)};
}

std::string HumRemedy(const MainsHum& hum, const HumHighpass& had) {
  const int cutoff = HumRemovingCutoff(hum, had, kAdvisedOrder, kHumTargetDb + 10 * std::log10(kHumLines), kHumWithinDb);
  if (cutoff == 0) return "no high-pass up to 4000 Hz takes it out and leaves the sound: mend the take";
  const std::string instead = had.hz > 0 ? Format(" in place of %g:%d", had.hz, had.order) : "";
  return Format("give --highpass %d:%d%s (highpass = \"%d:%d\" in a project), which takes it at least %.0f dB under",
                cutoff, kAdvisedOrder, instead.c_str(), cutoff, kAdvisedOrder, kHumTargetDb);
}

bool WarnHum(CompileState& s, const SoundReport& r, const SoundDef& def, const std::vector<int32_t>& played,
             uint32_t rate) {
  const MainsHum hum = MeasureMainsHum(played, rate);
  if (hum.mainsHz == 0 || hum.belowRmsDb >= kHumWithinDb || hum.lineDb[0] > kMainsLineWithinDb) return false;
  AdviseSound(s, r.line, r.name, SoundBadge::Hum,
              "sound %s (%s): a %d Hz mains hum is %.1f dB under its RMS as the chip plays it at %u Hz (within "
              "%.0f dB): %s", r.name.c_str(), def.text.c_str(), hum.mainsHz, hum.belowRmsDb, rate, kHumWithinDb,
              HumRemedy(hum, HighpassOf(s, r)).c_str());
  return true;
}

// How loud a sound is in the toy, in one measure for every sound: with --spl its LAeq, otherwise
// its loudness (which needs the preparation's library, opened only for a prepared compile);
// heard is the same measure as it comes from the samples (the A-weighted RMS with --spl).
struct ToyLevel {
  const SoundReport* report;
  const SoundDef* def;
  uint32_t rate;  // of its first link
  double level;
  double heard;
  bool speech;
};

// The levels of a sound's 20 ms frames in dB, from its first frame within 40 dB of the loudest
// to its last.
std::vector<double> FrameLevels(const std::vector<int32_t>& samples, uint32_t rate) {
  const size_t frame = std::max<size_t>(1, static_cast<size_t>(kFrameSeconds * rate));
  std::vector<double> levels;
  for (size_t at = 0; at + frame <= samples.size(); at += frame) {
    double sum = 0;
    for (size_t i = at; i < at + frame; ++i) sum += static_cast<double>(samples[i]) * samples[i];
    levels.push_back(10 * std::log10(sum / static_cast<double>(frame) + 1e-3));
  }
  if (levels.empty()) return levels;
  const double loudest = *std::max_element(levels.begin(), levels.end());
  const auto sound = [&](double v) { return v >= loudest - kSoundFromPeakDb; };
  const auto first = std::find_if(levels.begin(), levels.end(), sound);
  const auto last = std::find_if(levels.rbegin(), levels.rend(), sound).base();
  return std::vector<double>(first, last);
}

bool SpeechLike(const std::vector<int32_t>& samples, uint32_t rate) {
  std::vector<double> levels = FrameLevels(samples, rate);
  if (levels.size() < 10) return false;
  std::sort(levels.begin(), levels.end());
  return levels[levels.size() * 9 / 10] - levels[levels.size() / 10] >= kSyllablesDb;
}

bool HeardLevel(const CompileState& s, const std::vector<int32_t>& samples, uint32_t rate, double* level) {
  if (s.Reports.spl.given) {
    WeightedLevels weighted;
    if (!MeasureWeighted(samples, rate, &weighted)) return false;
    *level = weighted.aRmsDbfs;
    return std::isfinite(*level);
  }
  return s.Prep.options.Active() && MeasureLoudness(samples, static_cast<int32_t>(rate), level);
}

void CheckSound(CompileState& s, const std::vector<uint8_t>& image, SoundReport* report, std::vector<ToyLevel>* toy) {
  const SoundDef* def = FindSound(s, report->name.c_str());
  if (def == nullptr || !KindHasData(def->kind)) return;
  const std::vector<int32_t> played = PlayedSamples(s, image, *def);
  const std::vector<uint8_t> dividers = played.empty() ? std::vector<uint8_t>{} : DividersOf(s, def->name);
  const int64_t clock = int64_t{s.MainClk} * 32;
  bool hum = false;
  for (uint8_t divider : dividers) {
    if (s.Reports.spl.given) PredictSoundPressure(s, played, divider, report);
    hum = hum || WarnHum(s, *report, *def, played, LinkRateHz(clock, divider));
  }
  double heard = 0;
  if (dividers.empty() || !HeardLevel(s, played, LinkRateHz(clock, dividers[0]), &heard)) return;
  if (s.Reports.spl.given && report->pressure.empty()) return;
  const double level = s.Reports.spl.given ? report->pressure.front().laeqDb : heard;
  const uint32_t rate = LinkRateHz(clock, dividers[0]);
  toy->push_back({report, def, rate, level, heard, SpeechLike(played, rate)});
}

// What the codec takes: the sound as prepared against what the chip plays, at the same rate.
double CodecLossDb(CompileState& s, const ToyLevel& quiet) {
  MonoSource prepared;
  double heard = 0;
  if (!ReadPreparedSound(s, quiet.report->name, kMostComparedFrames, &prepared) || prepared.samples.empty() ||
      !HeardLevel(s, prepared.samples, quiet.rate, &heard)) {
    return 0;
  }
  return heard - quiet.heard;
}

std::string Trimmed(const char* text) {
  std::string t = text;
  return t.substr(0, t.find_last_not_of(' ') + 1);
}

// Why a sound is quiet in the toy, where it is known.
std::string QuietCauses(CompileState& s, const ToyLevel& quiet) {
  std::vector<std::string> causes;
  const PreparationRecord* record = PreparedRecord(s, quiet.report->name);
  if (record != nullptr && record->bandLossDb >= kCauseDb) {
    causes.push_back(Format("played at %u Hz it loses %.1f dB with the band above %u Hz: link it at a higher rate",
                            quiet.rate, record->bandLossDb, quiet.rate / 2));
  }
  const double codec = CodecLossDb(s, quiet);
  const SoundCodec* kind = FindCodec(quiet.def->kind);
  if (codec >= kCauseDb && kind != nullptr) {
    causes.push_back(Format("%s takes %.1f dB of it: store it in another codec", Trimmed(kind->tag).c_str(), codec));
  }
  if (record != nullptr && record->ceilingReached) {
    causes.push_back("the -1 dBFS peak ceiling held it under its loudness target: give --limit");
  }
  if (causes.empty()) return "bring it up, with a gain in its [sound.NAME] section of a project";
  std::string text;
  for (const std::string& cause : causes) text += (text.empty() ? "" : "; ") + cause;
  return text;
}

// Each sound against the speech of the toy, which sets the level its buttons are heard at.
void WarnQuietInTheToy(CompileState& s, const std::vector<ToyLevel>& toy) {
  std::vector<double> levels;
  for (const ToyLevel& t : toy) {
    if (t.speech) levels.push_back(t.level);
  }
  if (toy.size() < 2 || levels.empty()) return;
  const double median = Median(levels);
  const bool spl = s.Reports.spl.given;
  for (const ToyLevel& t : toy) {
    if (median - t.level <= kQuieterDb) continue;
    const std::string figures = spl ? Format("LAeq %.1f dB against %.1f dB", t.level, median)
                                    : Format("%.1f LUFS against %.1f LUFS", t.level, median);
    AdviseSound(s, t.report->line, t.report->name, SoundBadge::TooQuiet,
                "sound %s, played at %u Hz, is %.1f dB quieter in the toy than the median of the image's %d "
                "speech sounds (%s): %s", t.report->name.c_str(), t.rate, median - t.level, static_cast<int>(levels.size()),
                figures.c_str(), QuietCauses(s, t).c_str());
  }
}

}  // namespace

void CheckPlayedSounds(CompileState& s) {
  std::vector<uint8_t> image;
  if (!ReadImageBack(s, &image)) {
    if (s.Reports.spl.given) {
      std::fprintf(s.Err, "qs71gen: warning: --spl: the image cannot be read back from its output, so no sound's "
                   "level in the toy is predicted\n");
    }
    return;
  }
  std::vector<ToyLevel> toy;
  for (SoundReport& report : s.Reports.sounds) CheckSound(s, image, &report, &toy);
  WarnQuietInTheToy(s, toy);
}
