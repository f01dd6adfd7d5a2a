#include "fit_estimate.h"

#include <algorithm>
#include <cmath>

#include "sound_kinds.h"

namespace {

// The share lost is at least the estimate less these.
constexpr double kLostWithin = 0.03;          // of the estimate
constexpr double kTransitionWithin = 0.03;    // of the power where the response is not flat
constexpr double kLostFloor = 2e-5;           // of the whole: what two measures of one sound differ by
// A sound's abrupt start and end spread power over the band, which the resampler takes away and
// rings back: the estimate may count this much more lost for each window's length of sound.
constexpr double kEdgeShare = 5e-5;

struct CodecSpread {
  double db;         // between two measured rates, beside their offsets' difference
  double perOctave;  // beyond the last rate measured
  double fewDb;      // and this over the root of the samples: a short sound's error is a
                     // sum of few, and strays more from one rate to the next
};
// In kComparedCodecs' order: ADPCM, PCM8, u-law, PCM16 (which has no error of its own).
constexpr CodecSpread kSpread[] = {{0.25, 1.5, 30}, {0.4, 0.8, 10}, {0.5, 1.2, 10}, {0, 0, 0}};

// A tone at a rate it divides into a period of a few samples takes only that many values, and a
// codec's error there follows from those few: it may be far smaller than at the rates beside.
constexpr int kFewestSamplesApart = 32;
constexpr double kInStepWithin = 1e-3;  // of the ratio of rate to tone

// Where a codec's error is likely within this of the signal, each dB closer adds to its spread.
constexpr double kPoorBelowDb = 20;
constexpr double kPoorPerDb = 0.15;

// A sound this tonal (fit_spectrum.h) gets these times the spreads: its codecs' errors follow
// how its few sample values fall at each rate (a 3 kHz tone at 48 kHz takes 16 values, at 44.1
// kHz hundreds), which no model of the spectrum sees.
constexpr double kTonal = 0.9;
constexpr double kTonalSpreads = 6.0;

// The most the ADPCM search of each level was seen to gain over the greedy one on one sound,
// and how a gain measured at some rates may stray at others.
constexpr double kSearchGainDb[] = {0.0, 1.5, 4.0, 5.0};
constexpr CodecSpread kGainSpread = {0.15, 1.0, 0};

constexpr size_t kAdpcm = 0;

// Below this share of the power kept, the codecs' models are not used.
constexpr double kLeastKeptModelled = 0.5;

// Between two measured rates the offsets may bend this share of their difference away from the line.
constexpr double kBetweenShare = 0.5;

double Noise(double db) { return db == HUGE_VAL ? 0.0 : std::pow(10.0, -db / 10.0); }

// A codec's figure in a measure at a level, or NaN where the measure has none: ADPCM is
// measured at the level asked for, and at levels 2 and 3 at level 0 beside it.
double FigureAt(const RateMeasure& m, size_t codec, int level) {
  if (codec != kAdpcm || m.adpcmLevel == level) return m.codecDb[codec];
  if (level == 0 && m.adpcmLevel >= 2) return m.greedyAdpcmDb;
  return std::nan("");
}

}  // namespace

double MeasuredSnrDb(const RateMeasure& measure, size_t codec, double referenceDb) {
  return AgainstSource(measure.codecDb[codec], LostShare(measure.powerDb, referenceDb));
}

FitModel::FitModel(SoundSpectrum spectrum, const RateMeasure& reference, int adpcmQuality)
    : spectrum_(std::move(spectrum)), reference_(reference), quality_(adpcmQuality),
      spreads_(spectrum_.Tonality() > kTonal ? kTonalSpreads : 1.0), toneHz_(spectrum_.StrongestHz()) {
  measures_.push_back(reference);
}

void FitModel::Add(const RateMeasure& measure) {
  for (RateMeasure& m : measures_) {
    if (m.played != measure.played) continue;
    // A measure at the level asked for replaces one at the greedy level, never the other way.
    if (measure.adpcmLevel == quality_ || m.adpcmLevel != quality_) m = measure;
    return;
  }
  measures_.push_back(measure);
}

const RateMeasure* FitModel::MeasuredAtAnyLevel(int32_t played) const {
  for (const RateMeasure& m : measures_) {
    if (m.played == played) return &m;
  }
  return nullptr;
}

const RateMeasure* FitModel::Measured(int32_t played) const {
  const RateMeasure* m = MeasuredAtAnyLevel(played);
  return m != nullptr && m->adpcmLevel == quality_ ? m : nullptr;
}

double FitModel::SnrDb(size_t codec, int32_t played, bool* measured) const {
  const RateMeasure* m = codec == kAdpcm ? Measured(played) : MeasuredAtAnyLevel(played);
  *measured = m != nullptr;
  return m != nullptr ? MeasuredSnrDb(*m, codec, reference_.powerDb) : MostSnrDb(codec, played);
}

const SoundSpectrum::AtRate& FitModel::At(int32_t played) const {
  auto it = at_.find(played);
  if (it == at_.end()) it = at_.emplace(played, spectrum_.At(played)).first;
  return it->second;
}

// The codec's error as its model sees it, against the power of the sound at its own rate.
double FitModel::ModelNoise(size_t codec, const SoundSpectrum::AtRate& at) const {
  if (codec == kAdpcm) return at.kept > 0 ? at.difference / at.kept : 0.0;
  if (kComparedCodecs[codec] == KindPcm8) return at.kept > 0 ? 1.0 / at.kept : 0.0;
  return 1.0;
}

// The offsets of the model from the measures of a level, by rate.
std::vector<FitModel::Anchor> FitModel::Anchors(size_t codec, int level) const {
  std::vector<Anchor> anchors;
  for (const RateMeasure& m : measures_) {
    const double figure = FigureAt(m, codec, level);
    // A rate that keeps too little of the sound says nothing of the model; nor does a tonal
    // sound at its own rate, where a tone made at that rate may take only a few sample values.
    if (std::isnan(figure) || At(m.played).kept < kLeastKeptModelled) continue;
    if (spreads_ > 1 && m.played == reference_.played && kComparedCodecs[codec] != KindAdpcm) continue;
    const double model = ModelNoise(codec, At(m.played));
    const double noise = Noise(figure);
    if (model > 0 && noise > 0) anchors.push_back({std::log2(m.played), 10 * std::log10(noise / model)});
  }
  std::sort(anchors.begin(), anchors.end(), [](const Anchor& a, const Anchor& b) { return a.octave < b.octave; });
  return anchors;
}

namespace {

// How far the offsets stray from a straight line through their neighbours: what the codec's
// spread must take in beside its own, on a sound whose error the model follows loosely.
double Irregularity(const std::vector<FitModel::Anchor>& anchors) {
  double most = 0;
  for (size_t i = 1; i + 1 < anchors.size(); ++i) {
    const FitModel::Anchor& a = anchors[i - 1];
    const FitModel::Anchor& b = anchors[i + 1];
    const double t = (anchors[i].octave - a.octave) / (b.octave - a.octave);
    most = std::max(most, std::abs(anchors[i].offsetDb - (a.offsetDb + t * (b.offsetDb - a.offsetDb))));
  }
  return most;
}

// The offset at octave and how far it may be off.
void OffsetAt(const std::vector<FitModel::Anchor>& anchors, double octave, const CodecSpread& codec, double* offset,
              double* spread) {
  const double jitter = codec.db + Irregularity(anchors);
  auto above = std::lower_bound(anchors.begin(), anchors.end(), octave,
                                [](const FitModel::Anchor& a, double o) { return a.octave < o; });
  if (above != anchors.end() && above != anchors.begin()) {
    const FitModel::Anchor& low = *(above - 1);
    const FitModel::Anchor& high = *above;
    const double t = (octave - low.octave) / (high.octave - low.octave);
    *offset = low.offsetDb + t * (high.offsetDb - low.offsetDb);
    *spread = jitter + kBetweenShare * std::abs(high.offsetDb - low.offsetDb);
    return;
  }
  // Beyond the last rate measured: as far as the offsets' own slope there could take it, and more.
  const bool low = above == anchors.begin();
  const FitModel::Anchor& end = low ? anchors.front() : anchors.back();
  double slope = 0;
  if (anchors.size() > 1) {
    const FitModel::Anchor& next = low ? anchors[1] : anchors[anchors.size() - 2];
    slope = std::abs(end.offsetDb - next.offsetDb) / std::max(1e-9, std::abs(end.octave - next.octave));
  }
  *offset = end.offsetDb;
  *spread = jitter + (codec.perOctave + 2 * slope) * std::abs(octave - end.octave);
}

}  // namespace

// What a search's level gains over the greedy one where both were measured, by octave.
std::vector<FitModel::Anchor> FitModel::SearchGains() const {
  std::vector<Anchor> gains;
  for (const RateMeasure& m : measures_) {
    if (m.adpcmLevel != quality_ || quality_ < 2 || At(m.played).kept < kLeastKeptModelled) continue;
    if (std::isfinite(m.codecDb[kAdpcm]) && std::isfinite(m.greedyAdpcmDb)) {
      gains.push_back({std::log2(m.played), m.codecDb[kAdpcm] - m.greedyAdpcmDb});
    }
  }
  std::sort(gains.begin(), gains.end(), [](const Anchor& a, const Anchor& b) { return a.octave < b.octave; });
  return gains;
}

// The most a search's level could gain over the greedy one at octave, where the greedy one
// likely measures greedyDb: a search on a sound that overloads the greedy encoder's steps gains
// more at one rate than at the next.
double FitModel::MostSearchGainDb(double octave, double greedyDb) const {
  if (quality_ < 2) return 0;
  const std::vector<Anchor> gains = SearchGains();
  if (gains.empty()) return kSearchGainDb[std::min(quality_, 3)];
  double gain = 0, spread = 0;
  OffsetAt(gains, octave, kGainSpread, &gain, &spread);
  spread += kPoorPerDb * std::max(0.0, kPoorBelowDb - greedyDb);
  return gain + spread * spreads_;
}

bool FitModel::InStepWithTone(int32_t played) const {
  if (spreads_ <= 1 || toneHz_ <= 0) return false;
  const double cycles = toneHz_ / played;  // a sample's share of the tone's period
  for (int period = 1; period <= kFewestSamplesApart; ++period) {
    const double whole = cycles * period;
    if (std::abs(whole - std::round(whole)) <= kInStepWithin * whole) return true;
  }
  return false;
}

double FitModel::MostSnrDb(size_t codec, int32_t played) const {
  const SoundSpectrum::AtRate& at = At(played);
  const double lost = std::max(0.0, 1.0 - at.kept);
  const double edges = kEdgeShare * SoundSpectrum::kWindowFrames / std::max<double>(1, reference_.frames);
  const double leastLost =
      std::max(0.0, lost * (1 - kLostWithin) - kTransitionWithin * at.uncertain - kLostFloor - edges);
  // Where the rate keeps less than half the power no codec model holds: the codec may add nothing.
  if (kComparedCodecs[codec] == KindPcm16 || at.kept < kLeastKeptModelled || InStepWithTone(played)) {
    return AgainstSource(HUGE_VAL, leastLost);
  }
  // A search's figures go by the greedy level's and what the search gains over it.
  const bool searching = codec == kAdpcm && quality_ >= 2;
  const double octave = std::log2(played);
  // Where the greedy level was measured at this rate, only what the search gains is unknown.
  const RateMeasure* greedy = searching ? MeasuredAtAnyLevel(played) : nullptr;
  if (greedy != nullptr) {
    const double gain = MostSearchGainDb(octave, greedy->greedyAdpcmDb);
    const double leastNoise = Noise(greedy->greedyAdpcmDb) * std::pow(10.0, -gain / 10.0);
    return AgainstSource(leastNoise > 0 ? -10 * std::log10(leastNoise) : HUGE_VAL, leastLost);
  }
  const std::vector<Anchor> anchors = Anchors(codec, codec == kAdpcm && !searching ? quality_ : 0);
  const double model = ModelNoise(codec, at);
  if (anchors.empty() || model <= 0) return AgainstSource(HUGE_VAL, leastLost);
  const double samples = std::max(1.0, static_cast<double>(reference_.frames) * played / reference_.played);
  const CodecSpread& own = kSpread[codec];
  const CodecSpread scaled{(own.db + own.fewDb / std::sqrt(samples)) * spreads_, own.perOctave * spreads_, 0};
  double offset = 0, spread = 0;
  OffsetAt(anchors, octave, scaled, &offset, &spread);
  // A codec far from its depth (ADPCM on a sound that overloads its steps) strays more.
  const double likelyDb = -10 * std::log10(model) - offset;
  spread += kPoorPerDb * std::max(0.0, kPoorBelowDb - likelyDb) * spreads_;
  const double gain = searching ? MostSearchGainDb(octave, likelyDb) : 0.0;
  const double leastNoise = model * std::pow(10.0, (offset - spread - gain) / 10.0);
  return AgainstSource(-10 * std::log10(leastNoise), leastLost);
}
