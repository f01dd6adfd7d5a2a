#include "fit_choice.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "sound_kinds.h"
#include "text_format.h"

namespace {

// A sound's options that no cheaper (or equally cheap) option beats, by bytes ascending and
// SNR strictly rising.
std::vector<size_t> Frontier(const FitSound& sound) {
  std::vector<size_t> order(sound.options.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const FitOption& x = sound.options[a];
    const FitOption& y = sound.options[b];
    return x.bytes != y.bytes ? x.bytes < y.bytes : x.snrDb > y.snrDb;
  });
  std::vector<size_t> kept;
  for (size_t i : order) {
    if (!sound.judged && !kept.empty()) break;  // a sound not judged keeps its one way
    if (kept.empty() || sound.options[i].snrDb > sound.options[kept.back()].snrDb) kept.push_back(i);
  }
  return kept;
}

struct Problem {
  const std::vector<FitSound>& sounds;
  std::vector<std::vector<size_t>> frontiers;
  int64_t room;

  const FitOption& At(size_t sound, size_t option) const { return sounds[sound].options[option]; }

  // Each sound's cheapest option of at least level; false when some sound has none.
  bool CheapestAtLeast(double level, std::vector<size_t>* chosen, int64_t* bytes, size_t* short_) const {
    chosen->assign(sounds.size(), 0);
    *bytes = 0;
    for (size_t s = 0; s < sounds.size(); ++s) {
      const std::vector<size_t>& f = frontiers[s];
      size_t pick = f.front();
      if (sounds[s].judged) {
        auto it = std::find_if(f.begin(), f.end(), [&](size_t o) { return At(s, o).snrDb >= level; });
        if (it == f.end()) return *short_ = s, false;
        pick = *it;
      }
      (*chosen)[s] = pick;
      *bytes += At(s, pick).bytes;
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
  for (size_t s = 0; s < p.sounds.size(); ++s) {
    if (!p.sounds[s].judged) continue;
    for (size_t o : p.frontiers[s]) levels.push_back(p.At(s, o).snrDb);
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

// The upgrades, most dB a byte first, as long as one fits.
void Upgrade(const Problem& p, double level, FitChoice* choice) {
  for (;;) {
    double best = -1;
    size_t bestSound = 0, bestOption = 0;
    for (size_t s = 0; s < p.sounds.size(); ++s) {
      if (!p.sounds[s].judged) continue;
      const FitOption& now = p.At(s, choice->chosen[s]);
      for (size_t o : p.frontiers[s]) {
        const FitOption& next = p.At(s, o);
        const int64_t more = next.bytes - now.bytes;
        if (next.snrDb <= now.snrDb || next.snrDb < level || more <= 0 || choice->bytes + more > p.room) continue;
        const double gain = (next.snrDb - now.snrDb) / static_cast<double>(more);
        if (gain > best) best = gain, bestSound = s, bestOption = o;
      }
    }
    if (best < 0) return;
    choice->bytes += p.At(bestSound, bestOption).bytes - p.At(bestSound, choice->chosen[bestSound]).bytes;
    choice->chosen[bestSound] = bestOption;
  }
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

// Why the worst sound is no better: it has no better option, or the next level costs more than
// the room (and by how much), or another sound cannot reach it.
std::string Limit(const Problem& p, const std::vector<double>& levels, size_t level, const FitChoice& choice) {
  if (!std::isfinite(choice.worstDb)) return "nothing: no sound has a choice";
  const FitSound& worst = p.sounds[choice.worst];
  if (level + 1 >= levels.size()) {
    return Format("nothing but %s's own best: %s, %.1f dB", worst.name.c_str(),
                  FitOptionText(p.At(choice.worst, choice.chosen[choice.worst])).c_str(), choice.worstDb);
  }
  std::vector<size_t> chosen;
  int64_t bytes = 0;
  size_t short_ = 0;
  const double next = levels[level + 1];
  if (!p.CheapestAtLeast(next, &chosen, &bytes, &short_)) {
    return Format("%s, which no choice brings above %.1f dB", p.sounds[short_].name.c_str(), choice.worstDb);
  }
  return Format("the part's size: every sound at %.1f dB or better (%s as %s) needs %lld bytes more than there "
                "are", next, worst.name.c_str(), FitOptionText(p.At(choice.worst, chosen[choice.worst])).c_str(),
                static_cast<long long>(bytes - p.room));
}

}  // namespace

std::string FitOptionText(const FitOption& option) {
  const SoundKindInfo* kind = FindSoundKind(option.kind);
  const std::string codec = kind != nullptr ? kind->statement + 1 : "?";
  if (option.linkRate <= 0) return Format("%s at %d Hz", codec.c_str(), option.playedRate);
  if (option.linkRate == option.playedRate) return Format("%s at %d Hz", codec.c_str(), option.linkRate);
  return Format("%s at %d Hz (plays %d Hz)", codec.c_str(), option.linkRate, option.playedRate);
}

FitChoice ChooseFit(const std::vector<FitSound>& sounds, int64_t room) {
  Problem p{sounds, {}, room};
  for (const FitSound& sound : sounds) p.frontiers.push_back(Frontier(sound));
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
  if (!levels.empty()) p.CheapestAtLeast(levels[level], &choice.chosen, &choice.bytes, &none);
  Upgrade(p, levels.empty() ? 0 : levels[level], &choice);
  Summarise(p, &choice);
  choice.limit = Limit(p, levels, level, choice);
  return choice;
}
