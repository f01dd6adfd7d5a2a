#include "fit_knapsack.h"

#include <algorithm>
#include <limits>

namespace {

constexpr double kNone = -std::numeric_limits<double>::infinity();

// Sums of the same SNRs taken in another order may differ in their last bits: closer than this
// they count as the same sum, and the fewer units (or the earlier item) win.
constexpr double kSameSum = 1e-9;

int64_t Units(int64_t bytes, int64_t unit) { return bytes / unit + (bytes % unit != 0 ? 1 : 0); }

// A group's items that no item of as few units (or fewer) beats: by units ascending, value
// strictly rising. Only these can be in a best choice, and they keep the table's loops short.
struct Candidate {
  int64_t units;
  double value;
  size_t item;
};

std::vector<Candidate> Useful(const std::vector<KnapsackItem>& items, int64_t unit, int64_t cells) {
  std::vector<Candidate> all;
  for (size_t i = 0; i < items.size(); ++i) {
    const int64_t units = Units(std::max<int64_t>(0, items[i].bytes), unit);
    if (units <= cells) all.push_back({units, items[i].value, i});
  }
  std::stable_sort(all.begin(), all.end(), [](const Candidate& a, const Candidate& b) {
    return a.units != b.units ? a.units < b.units : a.value > b.value;
  });
  std::vector<Candidate> kept;
  for (const Candidate& c : all) {
    if (kept.empty() || c.value > kept.back().value) kept.push_back(c);
  }
  return kept;
}

// best[c]: the highest sum of the groups so far that takes exactly c units; pick[g][c] the item
// group g took for it.
struct Table {
  std::vector<double> best;
  std::vector<std::vector<uint16_t>> pick;
};

void AddGroup(const std::vector<Candidate>& group, int64_t cells, Table* t) {
  std::vector<double> next(static_cast<size_t>(cells + 1), kNone);
  std::vector<uint16_t> pick(static_cast<size_t>(cells + 1), 0);
  for (size_t k = 0; k < group.size(); ++k) {
    const Candidate& c = group[k];
    for (int64_t at = c.units; at <= cells; ++at) {
      const double before = t->best[static_cast<size_t>(at - c.units)];
      if (before == kNone) continue;
      const double sum = before + c.value;
      double& best = next[static_cast<size_t>(at)];
      if (best == kNone || sum > best + kSameSum) best = sum, pick[static_cast<size_t>(at)] = static_cast<uint16_t>(k);
    }
  }
  t->best.swap(next);
  t->pick.push_back(std::move(pick));
}

}  // namespace

KnapsackResult SolveKnapsack(const std::vector<std::vector<KnapsackItem>>& groups, int64_t room) {
  KnapsackResult result;
  if (room < 0) return result;
  result.unit = std::max<int64_t>(1, Units(room, kKnapsackCells));
  int64_t cells = room / result.unit;
  std::vector<std::vector<Candidate>> useful;
  int64_t largest = 0;  // no choice takes more units than every group's largest together
  for (const auto& items : groups) {
    useful.push_back(Useful(items, result.unit, cells));
    if (useful.back().empty() || useful.back().size() > std::numeric_limits<uint16_t>::max()) return result;
    largest += useful.back().back().units;
  }
  cells = std::min(cells, largest);
  Table t;
  t.best.assign(static_cast<size_t>(cells + 1), kNone);
  t.best[0] = 0;
  for (const auto& group : useful) AddGroup(group, cells, &t);
  double most = kNone;
  for (double sum : t.best) most = std::max(most, sum);
  size_t at = 0;
  while (at + 1 < t.best.size() && (t.best[at] == kNone || t.best[at] < most - kSameSum)) ++at;
  if (t.best[at] == kNone) return result;
  result.chosen.assign(groups.size(), 0);
  for (size_t g = groups.size(); g-- > 0;) {
    const Candidate& c = useful[g][t.pick[g][at]];
    result.chosen[g] = c.item;
    at -= static_cast<size_t>(c.units);
  }
  result.fits = true;
  return result;
}
