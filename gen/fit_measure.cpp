#include "fit_measure.h"

#include <algorithm>
#include <cmath>

#include "ascii_case.h"
#include "audio/sound_import.h"
#include "audio/sound_measure.h"
#include "audio/sound_preparation.h"
#include "clock_divider.h"
#include "compile_state.h"
#include "sound_kinds.h"
#include "sound_report.h"
#include "text_format.h"

namespace {

bool StoredWithCodec(int32_t kind) {
  return kind == KindAdpcm || kind == KindPcm8 || kind == KindPcm16 || kind == KindUlaw;
}

// The distinct rates the sound's links ask for, in script order.
std::vector<int32_t> LinkRates(const CompileState& s, const std::string& name) {
  std::vector<int32_t> rates;
  for (const LinkRecord& link : s.ScriptLinks) {
    if (EqualsNoCase(link.sound, name) && std::find(rates.begin(), rates.end(), link.rate) == rates.end()) {
      rates.push_back(link.rate);
    }
  }
  return rates;
}

// A sound prepared at one rate: its frames, its power before the loudness gain (dBFS) and what
// each codec makes of it.
struct Trial {
  int32_t linkRate = 0;
  int32_t played = 0;
  int64_t frames = 0;
  double powerDb = 0;
  std::vector<CodecCost> costs;
};

// played 0: the source's own rate. Without codecs, only the power is measured. The sound is
// prepared with its own settings (a project's) over the defaults, as its compile prepares it.
bool Prepare(CompileState& s, const std::string& name, const PreparationRecord& source, int32_t played, bool codecs,
             Trial* trial) {
  PreparationOptions options = s.Prep.options;
  std::string reason;
  auto own = s.Prep.own.find(AsciiLowerCopy(name));
  if (own != s.Prep.own.end() && !ApplySoundSettings(own->second, &options, &reason)) return false;
  const int quality = AdpcmQualityOf(s, name);
  // As PCM16, so that the preparation neither dithers nor runs an encoder of its own.
  const PreparationJob job{&options, source.file, KindPcm16, played, s.Scale, "", quality};
  PreparationRecord record;
  if (!PrepareSound(job, s.Prep.files, &record, &reason)) return false;
  LevelMeter levels;
  CodecMeter meter(quality);
  if (!MeterPreparedSamples(s, record, &levels, codecs ? &meter : nullptr)) return false;
  trial->played = record.playedRate;
  trial->frames = record.frames;
  trial->powerDb = LevelsOf(levels).rmsDbfs - record.gainDb;
  if (codecs) trial->costs = CodecCostsOf(meter);
  return true;
}

// The link rates worth trying: the common rates whose played rate is at most the source's (a
// higher one adds bytes and nothing else), and the rate the links ask for now; one per played rate.
std::vector<std::pair<int32_t, int32_t>> CandidateRates(const CompileState& s, int32_t now, int32_t sourceRate) {
  std::vector<int32_t> asked(kCommonRates.begin(), kCommonRates.end());
  asked.insert(asked.begin(), now);
  std::vector<std::pair<int32_t, int32_t>> rates;  // link rate, played rate
  for (int32_t rate : asked) {
    PlayedRate p{};
    if (!ChipPlayedRate(s.MainClk, rate, &p) || (p.hz > sourceRate && rate != now)) continue;
    const bool seen = std::any_of(rates.begin(), rates.end(), [&](const auto& r) { return r.second == p.hz; });
    if (!seen) rates.push_back({rate, p.hz});
  }
  return rates;
}

double AgainstSource(double codecSnrDb, double lostFraction) {
  const double noise = codecSnrDb == HUGE_VAL ? 0.0 : std::pow(10.0, -codecSnrDb / 10.0);
  const double total = noise + lostFraction;
  if (!(total > 0)) return kLosslessDb;
  return std::clamp(-10.0 * std::log10(total), -kLosslessDb, kLosslessDb);
}

void AddOptions(const Trial& trial, double referenceDb, FitSound* sound) {
  const double lost = std::isfinite(referenceDb) && std::isfinite(trial.powerDb)
                          ? std::max(0.0, 1.0 - std::pow(10.0, (trial.powerDb - referenceDb) / 10.0))
                          : 0.0;
  for (const CodecCost& cost : trial.costs) {
    sound->options.push_back({cost.kind, trial.linkRate, trial.played, KindBytesOf(cost.kind, trial.frames),
                              AgainstSource(cost.snrDb, lost)});
  }
}

FitSound Fixed(const SoundDef& def, const std::string& why) {
  FitSound sound;
  sound.name = def.name;
  sound.options.push_back({def.kind, 0, 0, int64_t{def.end} - def.start + 1, 0});
  sound.before = sound.options.front();
  sound.judged = false;
  sound.kept = why;
  return sound;
}

std::string RatesText(const std::vector<int32_t>& rates) {
  std::string text;
  for (size_t i = 0; i < rates.size(); ++i) {
    text += Format("%s%d", i == 0 ? "" : i + 1 == rates.size() ? " and " : ", ", rates[i]);
  }
  return text + " Hz";
}

FitSound Measure(CompileState& s, const SoundDef& def) {
  auto it = s.Prep.records.find(AsciiLowerCopy(def.name));
  if (IsRampSound(def.name.c_str())) return Fixed(def, "a ramp: kept as it is");
  if (!StoredWithCodec(def.kind)) return Fixed(def, "its kind has no other codec");
  if (it == s.Prep.records.end() || !it->second.refusal.empty() || s.Prep.files.prepared == nullptr) {
    return Fixed(def, "not measured: kept as it is");
  }
  const PreparationRecord& source = it->second;
  const std::vector<int32_t> links = LinkRates(s, def.name);
  FitSound sound;
  sound.name = def.name;
  std::vector<std::pair<int32_t, int32_t>> rates;
  if (links.size() == 1) {
    rates = CandidateRates(s, links[0], source.source.rate);
  } else {
    rates = {{0, source.playedRate}};
    sound.kept = links.empty() ? "rate kept: not linked" : "rate kept: linked at " + RatesText(links);
  }
  double referenceDb = -HUGE_VAL;
  std::vector<Trial> trials;
  for (const auto& [link, played] : rates) {
    Trial trial;
    trial.linkRate = link;
    if (Prepare(s, def.name, source, played, true, &trial)) trials.push_back(std::move(trial));
  }
  Trial reference;
  const auto atSource = std::find_if(trials.begin(), trials.end(), [&](const Trial& t) { return t.played == source.source.rate; });
  if (atSource != trials.end()) referenceDb = atSource->powerDb;
  else if (Prepare(s, def.name, source, 0, false, &reference)) referenceDb = reference.powerDb;
  for (const Trial& trial : trials) AddOptions(trial, referenceDb, &sound);
  const int32_t nowRate = links.size() == 1 ? links[0] : 0;
  const auto now = std::find_if(sound.options.begin(), sound.options.end(),
                                [&](const FitOption& o) { return o.kind == def.kind && o.linkRate == nowRate; });
  if (now == sound.options.end()) return Fixed(def, "cannot be prepared at its rate: kept as it is");
  sound.before = *now;
  return sound;
}

}  // namespace

std::vector<FitSound> MeasureFitOptions(CompileState& s) {
  std::vector<FitSound> sounds;
  for (const auto& def : s.Names.sounds) {
    if (KindHasData(def->kind)) sounds.push_back(Measure(s, *def));
  }
  return sounds;
}
