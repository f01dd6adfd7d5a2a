#include "fit_choice.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fit_knapsack.h"
#include "sound_kinds.h"
#include "text_format.h"

namespace {

struct Problem {
  const std::vector<FitSound>& sounds;
  int64_t room;

  const FitOption& At(size_t sound, size_t option) const { return sounds[sound].options[option]; }

  bool Cheapest(size_t s, double level, size_t* pick) const { return CheapestOption(sounds[s], level, pick); }

  // Each sound's cheapest option of at least level; false (with the first sound short) when
  // some sound has none.
  bool CheapestAtLeast(double level, std::vector<size_t>* chosen, int64_t* bytes, size_t* short_) const {
    chosen->assign(sounds.size(), 0);
    *bytes = 0;
    for (size_t s = 0; s < sounds.size(); ++s) {
      if (!Cheapest(s, level, &(*chosen)[s])) return *short_ = s, false;
      *bytes += At(s, (*chosen)[s]).bytes;
    }
    return true;
  }

  bool Fits(double level) const {
    std::vector<size_t> chosen;
    int64_t bytes = 0;
    size_t none = 0;
    return CheapestAtLeast(level, &chosen, &bytes, &none) && bytes <= room;
  }
};

// Every SNR any judged sound can reach, ascending.
std::vector<double> Levels(const Problem& p) {
  std::vector<double> levels;
  for (const FitSound& sound : p.sounds) {
    if (!sound.judged) continue;
    for (const FitOption& o : sound.options) levels.push_back(o.snrDb);
  }
  std::sort(levels.begin(), levels.end());
  levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
  return levels;
}

// The highest level that fits; the lowest fits whenever the smallest choice does.
size_t HighestLevel(const Problem& p, const std::vector<double>& levels) {
  size_t low = 0, high = levels.size();  // levels[low] fits, levels[high] (if any) does not
  while (high - low > 1) {
    const size_t mid = low + (high - low) / 2;
    (p.Fits(levels[mid]) ? low : high) = mid;
  }
  return low;
}

// The highest sum at or above level over the room the cheapest such options leave: each
// sound's options there, as bytes beyond its cheapest.
void BestSum(const Problem& p, double level, FitChoice* choice) {
  std::vector<std::vector<KnapsackItem>> groups;
  std::vector<std::vector<size_t>> index;
  for (size_t s = 0; s < p.sounds.size(); ++s) {
    const int64_t base = p.At(s, choice->chosen[s]).bytes;
    groups.emplace_back();
    index.emplace_back();
    const FitSound& sound = p.sounds[s];
    for (size_t o = 0; o < sound.options.size(); ++o) {
      const bool allowed = sound.judged ? sound.options[o].snrDb >= level : o == choice->chosen[s];
      if (!allowed) continue;
      groups.back().push_back({sound.options[o].bytes - base, sound.judged ? sound.options[o].snrDb : 0.0});
      index.back().push_back(o);
    }
  }
  const KnapsackResult best = SolveKnapsack(groups, p.room - choice->bytes);
  choice->unit = best.unit;
  if (!best.fits) return;  // cannot happen: every group's first choice costs nothing
  for (size_t s = 0; s < p.sounds.size(); ++s) choice->chosen[s] = index[s][best.chosen[s]];
  choice->bytes = 0;
  for (size_t s = 0; s < p.sounds.size(); ++s) choice->bytes += p.At(s, choice->chosen[s]).bytes;
}

void Summarise(const Problem& p, FitChoice* choice) {
  choice->free = p.room - choice->bytes;
  choice->worstDb = std::numeric_limits<double>::infinity();
  for (size_t s = 0; s < p.sounds.size(); ++s) {
    if (!p.sounds[s].judged) continue;
    const double snr = p.At(s, choice->chosen[s]).snrDb;
    choice->totalDb += snr;
    if (snr < choice->worstDb) choice->worstDb = snr, choice->worst = s;
  }
}

// Why the worst sound is no better: it has no better option, or with its next better option
// (the cheapest above it) every sound at that option's level costs more than the room (and by
// how much), or another sound cannot reach that level.
std::string Limit(const Problem& p, const FitChoice& choice) {
  if (!std::isfinite(choice.worstDb)) return "nothing: no sound has a choice";
  const FitSound& worst = p.sounds[choice.worst];
  size_t better = 0;
  if (!p.Cheapest(choice.worst, std::nextafter(choice.worstDb, HUGE_VAL), &better)) {
    const size_t judged = static_cast<size_t>(
        std::count_if(p.sounds.begin(), p.sounds.end(), [](const FitSound& s) { return s.judged; }));
    if (judged > 1) return Format("%s, which no choice brings above %.1f dB", worst.name.c_str(), choice.worstDb);
    return Format("nothing but %s's own best: %s, %.1f dB", worst.name.c_str(),
                  FitOptionText(p.At(choice.worst, choice.chosen[choice.worst])).c_str(), choice.worstDb);
  }
  std::vector<size_t> chosen;
  int64_t bytes = 0;
  size_t short_ = 0;
  const double next = p.At(choice.worst, better).snrDb;
  if (!p.CheapestAtLeast(next, &chosen, &bytes, &short_)) {
    return Format("%s, which no choice brings above %.1f dB", p.sounds[short_].name.c_str(), choice.worstDb);
  }
  return Format("the part's size: every sound at %.1f dB or better (%s as %s) needs %lld bytes more than there "
                "are", next, worst.name.c_str(), FitOptionText(p.At(choice.worst, chosen[choice.worst])).c_str(),
                static_cast<long long>(bytes - p.room));
}

}  // namespace

bool CheapestOption(const FitSound& sound, double level, size_t* pick) {
  bool found = false;
  for (size_t o = 0; o < sound.options.size(); ++o) {
    const FitOption& option = sound.options[o];
    if (sound.judged && option.snrDb < level) continue;
    const FitOption& now = sound.options[*pick];
    const bool better = !found || option.bytes < now.bytes || (option.bytes == now.bytes && option.snrDb > now.snrDb);
    if (better) *pick = o, found = true;
    if (!sound.judged) break;
  }
  return found;
}

std::string FitOptionText(const FitOption& option) {
  const SoundKindInfo* kind = FindSoundKind(option.kind);
  const std::string codec = kind != nullptr ? kind->statement + 1 : "?";
  if (option.linkRate <= 0) return Format("%s at %d Hz", codec.c_str(), option.playedRate);
  if (option.linkRate == option.playedRate) return Format("%s at %d Hz", codec.c_str(), option.linkRate);
  return Format("%s at %d Hz (plays %d Hz)", codec.c_str(), option.linkRate, option.playedRate);
}

FitChoice ChooseFit(const std::vector<FitSound>& sounds, int64_t room) {
  const Problem p{sounds, room};
  FitChoice choice;
  const std::vector<double> levels = Levels(p);
  size_t none = 0;
  const double lowest = levels.empty() ? 0 : levels.front();
  p.CheapestAtLeast(lowest, &choice.chosen, &choice.bytes, &none);
  if (choice.bytes > room) {
    choice.overBy = choice.bytes - room;
    return choice;
  }
  choice.fits = true;
  const size_t level = levels.empty() ? 0 : HighestLevel(p, levels);
  const double at = levels.empty() ? 0 : levels[level];
  p.CheapestAtLeast(at, &choice.chosen, &choice.bytes, &none);
  BestSum(p, at, &choice);
  Summarise(p, &choice);
  choice.limit = Limit(p, choice);
  return choice;
}
