#include "line_schedule.h"

#include <algorithm>
#include <cstdio>
#include <random>

namespace qs71line {
namespace {

// How often each fault is drawn, and how long the lasting ones last (seconds).
struct FaultRule {
  FaultKind kind;
  int weight;
  double shortest;
  double longest;
  const char* words;
};

constexpr FaultRule kRules[] = {
    {FaultKind::kServerDown, 3, 0.5, 4.0, "server down"},
    {FaultKind::kKillStation, 3, 0.2, 2.0, "kill -9"},
    {FaultKind::kPullCable, 3, 0.3, 3.0, "cable pulled"},
    {FaultKind::kStuckCell, 2, 0.0, 0.0, "stuck cell"},
    {FaultKind::kCrookedPart, 2, 1.0, 3.0, "crooked part"},
    {FaultKind::kPutInAgain, 3, 0.0, 0.0, "part put in again"},
    {FaultKind::kEventTwice, 1, 1.0, 2.0, "events delivered twice"},
};

const FaultRule& RuleOf(FaultKind kind) {
  return *std::find_if(std::begin(kRules), std::end(kRules),
                       [kind](const FaultRule& rule) { return rule.kind == kind; });
}

}  // namespace

Schedule DrawSchedule(uint32_t seed, const std::vector<StationShape>& line, double span) {
  std::mt19937 draw(seed);
  Schedule schedule;
  schedule.seed = seed;
  schedule.lot = std::uniform_int_distribution<int>(12, 30)(draw);
  std::vector<int> weights;
  for (const FaultRule& rule : kRules) weights.push_back(rule.weight);
  std::discrete_distribution<size_t> which(weights.begin(), weights.end());
  std::uniform_real_distribution<double> when(0.5, span);
  std::uniform_int_distribution<int> station(0, static_cast<int>(line.size()) - 1);
  const int count = std::uniform_int_distribution<int>(6, 12)(draw);
  for (int i = 0; i < count; ++i) {
    const FaultRule& rule = kRules[which(draw)];
    Fault fault;
    fault.kind = rule.kind;
    fault.at = when(draw);
    fault.station = station(draw);
    fault.programmer =
        std::uniform_int_distribution<int>(1, line[fault.station].programmers)(draw);
    fault.seconds = std::uniform_real_distribution<double>(rule.shortest, rule.longest)(draw);
    schedule.faults.push_back(fault);
  }
  std::stable_sort(schedule.faults.begin(), schedule.faults.end(),
                   [](const Fault& a, const Fault& b) { return a.at < b.at; });
  return schedule;
}

std::string Describe(const Fault& fault, const std::vector<StationShape>& line) {
  const FaultRule& rule = RuleOf(fault.kind);
  char text[160];
  std::snprintf(text, sizeof text, "%.1f s: %s, station %s programmer %d, %.1f s", fault.at,
                rule.words, line[fault.station].name.c_str(), fault.programmer, fault.seconds);
  return text;
}

}  // namespace qs71line
