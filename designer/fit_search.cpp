#include "fit_search.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <thread>

#include "fit_estimate.h"
#include "fit_spectrum.h"
#include "sound_kinds.h"
#include "sound_report.h"
#include "text_format.h"

namespace {

constexpr size_t kAdpcm = 0;

struct Searched {
  const FitCandidates* c = nullptr;
  std::vector<FitRate> rates;       // those still open: a rate that cannot be prepared is dropped
  std::unique_ptr<FitModel> model;  // null: the sound keeps the way it is stored
  RateMeasure before;               // as it is stored now
  int64_t frames = 0;               // at its own rate
};

struct Outcome {
  bool ok = false;
  std::string reason;
  RateMeasure measure;
  std::optional<SoundSpectrum> spectrum;
};

// The jobs on up to workers threads, each outcome in its job's place.
std::vector<Outcome> Run(const std::vector<FitJob>& jobs, const std::vector<Searched>& sounds, size_t workers,
                         const FitMeasurer& measure) {
  std::vector<Outcome> outcomes(jobs.size());
  std::atomic<size_t> next{0};
  auto work = [&](size_t worker) {
    for (size_t i; (i = next.fetch_add(1)) < jobs.size();) {
      Outcome& o = outcomes[i];
      if (jobs[i].reference) o.spectrum.emplace(sounds[jobs[i].sound].c->take.sourceRate);
      o.ok = measure(worker, jobs[i], o.spectrum ? &*o.spectrum : nullptr, &o.measure, &o.reason);
    }
  };
  workers = std::clamp<size_t>(workers, 1, jobs.size());
  std::vector<std::thread> threads;
  for (size_t w = 1; w < workers; ++w) threads.emplace_back(work, w);
  work(0);
  for (std::thread& t : threads) t.join();
  return outcomes;
}

int64_t FramesAt(const Searched& s, int32_t played) {
  const int64_t source = s.c->take.sourceRate;
  return source > 0 ? (s.frames * played + source / 2) / source : 0;
}

// The rate halfway through a sound's rates, in octaves.
int32_t MiddleRate(const std::vector<FitRate>& rates) {
  const double middle = std::sqrt(static_cast<double>(rates.front().played) * rates.back().played);
  const auto nearest = std::min_element(rates.begin(), rates.end(), [&](const FitRate& a, const FitRate& b) {
    return std::abs(std::log(a.played / middle)) < std::abs(std::log(b.played / middle));
  });
  return nearest->played;
}

// The level a rate is first measured at: the one asked for, unless that one is a search.
int FirstLevel(int quality) { return quality <= 1 ? quality : 0; }

// Every judged sound measured at its own rate (with its spectrum) and as it is stored now, in
// one job where the two are one rate.
bool MeasureStart(std::vector<Searched>* sounds, size_t workers, const FitMeasurer& measure, FitSearchResult* result) {
  struct Start {
    size_t reference, before;
    std::optional<size_t> middle;
  };
  std::vector<FitJob> jobs;
  std::vector<std::optional<Start>> starts(sounds->size());
  for (size_t i = 0; i < sounds->size(); ++i) {
    const FitCandidates& c = *(*sounds)[i].c;
    if (!c.sound.judged || c.rates.empty()) continue;
    const int quality = c.take.adpcmQuality;
    const int beforeLevel = c.sound.before.kind == KindAdpcm ? quality : FirstLevel(quality);
    const bool one = c.sound.before.playedRate == c.take.sourceRate;
    starts[i] = Start{jobs.size(), jobs.size(), std::nullopt};
    jobs.push_back({i, c.take.sourceRate, one ? beforeLevel : FirstLevel(quality), true});
    if (!one) starts[i]->before = jobs.size(), jobs.push_back({i, c.sound.before.playedRate, beforeLevel, false});
    // The models need a second rate below the sound's own to go by.
    if (c.sound.before.playedRate >= c.take.sourceRate && c.rates.size() > 1) {
      starts[i]->middle = jobs.size();
      jobs.push_back({i, MiddleRate(c.rates), FirstLevel(quality), false});
    }
  }
  std::vector<Outcome> outcomes = Run(jobs, *sounds, workers, measure);
  result->stats.measures += static_cast<int>(jobs.size());
  for (size_t i = 0; i < sounds->size(); ++i) {
    if (!starts[i]) continue;
    Searched& s = (*sounds)[i];
    for (size_t j : {starts[i]->reference, starts[i]->before}) {
      if (outcomes[j].ok) continue;
      result->unprepared = Format("sound %s (%s) cannot be prepared: %s", s.c->sound.name.c_str(),
                                  s.c->take.file.c_str(), outcomes[j].reason.c_str());
      return false;
    }
    Outcome& reference = outcomes[starts[i]->reference];
    s.frames = reference.measure.frames;
    s.before = outcomes[starts[i]->before].measure;
    s.model = std::make_unique<FitModel>(std::move(*reference.spectrum), reference.measure, s.c->take.adpcmQuality);
    // A rate above the source's own is no candidate, and the spectrum does not model it.
    if (starts[i]->before != starts[i]->reference && s.before.played <= s.c->take.sourceRate) s.model->Add(s.before);
    if (starts[i]->middle && outcomes[*starts[i]->middle].ok) s.model->Add(outcomes[*starts[i]->middle].measure);
  }
  return true;
}

FitSound Options(const Searched& s, std::vector<bool>* measured) {
  FitSound sound = s.c->sound;
  measured->clear();
  if (s.model == nullptr) {
    sound.judged = false;
    sound.options = {sound.before};
    measured->push_back(true);
    return sound;
  }
  const size_t column = CodecColumn(sound.before.kind);
  sound.before.bytes = KindBytesOf(sound.before.kind, s.before.frames);
  sound.before.snrDb = MeasuredSnrDb(s.before, column, s.model->ReferenceDb());
  sound.options.clear();
  for (const FitRate& rate : s.rates) {
    for (size_t codec = 0; codec < kFitCodecs; ++codec) {
      bool known = false;
      const double snr = s.model->SnrDb(codec, rate.played, &known);
      const int32_t kind = kComparedCodecs[codec];
      sound.options.push_back({kind, rate.link, rate.played, KindBytesOf(kind, FramesAt(s, rate.played)), snr});
      measured->push_back(known);
    }
  }
  return sound;
}

// The measure an option taken but not measured needs: at a searching level only its ADPCM.
FitJob JobFor(size_t index, const Searched& s, const FitOption& option) {
  const int quality = s.model->AdpcmQuality();
  const bool searching = option.kind == KindAdpcm && quality > 1;
  return {index, option.playedRate, searching ? quality : FirstLevel(quality)};
}

// What the limit line (fit_choice.h) reads but the choice did not measure: the worst sound's
// cheapest option above it, and every sound's cheapest at that option's level.
std::vector<FitJob> LimitJobs(const std::vector<Searched>& sounds, const std::vector<FitSound>& round,
                              const std::vector<std::vector<bool>>& measured, const FitChoice& choice) {
  std::vector<FitJob> jobs;
  if (!std::isfinite(choice.worstDb)) return jobs;
  auto need = [&](size_t i, double level) {
    size_t pick = 0;
    if (!CheapestOption(round[i], level, &pick)) return false;
    if (!measured[i][pick]) jobs.push_back(JobFor(i, sounds[i], round[i].options[pick]));
    return measured[i][pick];
  };
  const size_t worst = choice.worst;
  size_t better = 0;
  if (!need(worst, std::nextafter(choice.worstDb, HUGE_VAL)) || !jobs.empty()) return jobs;
  CheapestOption(round[worst], std::nextafter(choice.worstDb, HUGE_VAL), &better);
  const double level = round[worst].options[better].snrDb;
  for (size_t i = 0; i < round.size(); ++i) {
    if (round[i].judged) need(i, level);
  }
  return jobs;
}

// The options measured, for the figures the table shows and the limit its last lines read.
void KeepMeasured(const std::vector<std::vector<bool>>& measured, std::vector<FitSound>* round) {
  for (size_t i = 0; i < round->size(); ++i) {
    FitSound& sound = (*round)[i];
    std::vector<FitOption> kept;
    for (size_t o = 0; o < sound.options.size(); ++o) {
      if (measured[i][o]) kept.push_back(sound.options[o]);
    }
    sound.options = kept.empty() ? std::vector<FitOption>{sound.before} : kept;
  }
}

void TakeOutcomes(const std::vector<FitJob>& jobs, const std::vector<Outcome>& outcomes, std::vector<Searched>* sounds,
                  FitSearchStats* stats) {
  stats->measures += static_cast<int>(jobs.size());
  for (size_t j = 0; j < jobs.size(); ++j) {
    Searched& s = (*sounds)[jobs[j].sound];
    if (jobs[j].adpcmLevel > 1) ++stats->adpcmMeasures;
    if (outcomes[j].ok) {
      s.model->Add(outcomes[j].measure);
      continue;
    }
    // A rate the sound cannot be prepared for (too short to give a sample there) is no choice.
    const int32_t played = jobs[j].played;
    s.rates.erase(std::remove_if(s.rates.begin(), s.rates.end(), [&](const FitRate& r) { return r.played == played; }),
                  s.rates.end());
    if (s.rates.empty()) s.model.reset();
  }
}

}  // namespace

FitSearchResult SearchFit(const std::vector<FitCandidates>& candidates, int64_t room, size_t workers,
                          const FitMeasurer& measure) {
  FitSearchResult result;
  std::vector<Searched> sounds(candidates.size());
  for (size_t i = 0; i < candidates.size(); ++i) sounds[i].c = &candidates[i], sounds[i].rates = candidates[i].rates;
  if (!MeasureStart(&sounds, workers, measure, &result)) return result;
  for (;;) {
    ++result.stats.rounds;
    std::vector<FitSound> round(sounds.size());
    std::vector<std::vector<bool>> measured(sounds.size());
    for (size_t i = 0; i < sounds.size(); ++i) round[i] = Options(sounds[i], &measured[i]);
    result.choice = ChooseFit(round, room);
    std::vector<FitJob> jobs;
    for (size_t i = 0; result.choice.fits && i < sounds.size(); ++i) {
      const size_t o = result.choice.chosen[i];
      if (!measured[i][o]) jobs.push_back(JobFor(i, sounds[i], round[i].options[o]));
    }
    if (result.choice.fits && jobs.empty()) jobs = LimitJobs(sounds, round, measured, result.choice);
    // Bytes are never estimated: when nothing fits, no measure would change that.
    if (!result.choice.fits || jobs.empty()) {
      if (result.choice.fits) KeepMeasured(measured, &round), result.choice = ChooseFit(round, room);
      result.sounds = std::move(round);
      return result;
    }
    TakeOutcomes(jobs, Run(jobs, sounds, workers, measure), &sounds, &result.stats);
  }
}
