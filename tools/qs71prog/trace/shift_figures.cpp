#include "trace/shift_figures.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <map>
#include <unordered_map>
#include <utility>

#include "text_format.h"

namespace qs71prog {

namespace {

// Each verdict a part's row can carry and where it is counted; an empty one is a part that
// was started and never ended.
struct ResultCount {
  const char* result;
  int Tally::*count;
};
constexpr ResultCount kResults[] = {{"pass", &Tally::pass},
                                    {"fail", &Tally::fail},
                                    {"unverified", &Tally::unverified},
                                    {"already", &Tally::already},
                                    {"aborted", &Tally::aborted},
                                    {"untouched", &Tally::untouched},
                                    {"", &Tally::open}};

constexpr const char* kNoName = "(none)";

void Count(Tally& tally, const std::string& result) {
  for (const ResultCount& entry : kResults) {
    if (result == entry.result) {
      ++(tally.*entry.count);
      return;
    }
  }
}

bool Digits(const std::string& text, size_t at, size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (size_t index = at; index < at + count; ++index) {
    if (text[index] < '0' || text[index] > '9') return false;
    value = value * 10 + (text[index] - '0');
  }
  return true;
}

// The fields of "2026-12-07T19:40:00" at their places, each with its largest value and the
// character after it (a leap second's 60 is a second the clock gave).
struct TimeField {
  size_t at;
  size_t digits;
  int most;
  char after;
};
constexpr TimeField kTimeFields[] = {{0, 4, 9999, '-'}, {5, 2, 12, '-'},  {8, 2, 31, 'T'},
                                     {11, 2, 23, ':'},  {14, 2, 59, ':'}, {17, 2, 60, '\0'}};

// ".123" after the seconds: the point and one to nine digits.
bool Fraction(const std::string& text, double& fraction) {
  int digits = 0;
  if (text.size() < 2 || text.size() > 10 || text[0] != '.' ||
      !Digits(text, 1, text.size() - 1, digits)) {
    return false;
  }
  fraction = digits / std::pow(10.0, static_cast<double>(text.size() - 1));
  return true;
}

// "2026-12-07T19" of an hour counted from 1970.
std::string HourText(long long hours) {
  const long long days = hours >= 0 ? hours / 24 : (hours - 23) / 24;
  const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{days}}};
  return Format("%04d-%02u-%02uT%02lld", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                hours - days * 24);
}

// The trace is read once; each part and each "already" event lands in its hour, its
// programmer's and its operator's tally.
struct Counting {
  std::map<std::string, Tally> hours, programmers, operators;
  std::map<std::string, int> causes, steps, blocks;
};

std::string Named(const std::string& name) { return name.empty() ? kNoName : name; }

void AddPart(Counting& counting, ShiftFigures& figures, const std::string& when,
             const std::string& programmer, const std::string& operatorName,
             const std::string& result) {
  Count(figures.all, result);
  Count(counting.hours[when.size() >= 13 ? when.substr(0, 13) : Named(when)], result);
  Count(counting.programmers[Named(programmer)], result);
  Count(counting.operators[Named(operatorName)], result);
}

void AddFailure(Counting& counting, const TracePart& part) {
  ++counting.causes[Named(part.status)];
  ++counting.steps[Named(part.step)];
  for (const std::string& block : part.blocks) ++counting.blocks[block];
}

void WidenSpan(ShiftFigures& figures, const std::string& from, const std::string& to) {
  if (!from.empty() && (figures.first.empty() || from < figures.first)) figures.first = from;
  if (!to.empty() && to > figures.last) figures.last = to;
}

std::vector<TallyRow> Rows(const std::map<std::string, Tally>& tallies) {
  std::vector<TallyRow> rows;
  rows.reserve(tallies.size());
  for (const auto& [key, tally] : tallies) rows.push_back({key, tally});
  return rows;
}

// A shift with a break shows the empty hour as empty, rather than closing up around it.
void FillHours(std::map<std::string, Tally>& hours) {
  double first = 0.0;
  double last = 0.0;
  if (hours.empty() || !ParseUtc(hours.begin()->first + ":00:00Z", first) ||
      !ParseUtc(hours.rbegin()->first + ":00:00Z", last) || last - first > kFilledHours * 3600.0) {
    return;
  }
  for (long long hour = static_cast<long long>(first / 3600); hour * 3600.0 <= last; ++hour) {
    hours.try_emplace(HourText(hour));
  }
}

std::vector<ParetoRow> Pareto(const std::map<std::string, int>& counts) {
  std::vector<ParetoRow> rows;
  long long total = 0;
  for (const auto& [name, count] : counts) {
    rows.push_back({name, count, 0.0});
    total += count;
  }
  // Stable: among equal counts the names stay in order, so the report reads the same each time.
  std::stable_sort(rows.begin(), rows.end(),
                   [](const ParetoRow& a, const ParetoRow& b) { return a.count > b.count; });
  long long running = 0;
  for (ParetoRow& row : rows) {
    running += row.count;
    row.cumulative = 100.0 * static_cast<double>(running) / static_cast<double>(total);
  }
  return rows;
}

void CountParts(const TraceContents& contents, ShiftFigures& figures) {
  std::unordered_map<std::string, const std::string*> operators;
  for (const TraceRun& run : contents.runs) operators[run.id] = &run.operatorName;
  Counting counting;
  for (const TracePart& part : contents.parts) {
    const auto found = operators.find(part.run);
    AddPart(counting, figures, part.endedAt.empty() ? part.startedAt : part.endedAt,
            part.programmer, found == operators.end() ? "" : *found->second, part.result);
    if (part.result == "fail") AddFailure(counting, part);
    WidenSpan(figures, part.startedAt, part.endedAt);
  }
  // A part without a number (ALREADY holding the image, untouched, cut short before its blank
  // check ended) has no row of the parts table; its event is all there is of it.
  for (const TraceEvent& event : contents.events) {
    const PartRecord& row = event.row;
    if ((row.event != "already" && row.event != "part") || row.part > 0) continue;
    AddPart(counting, figures, row.time, row.programmerKey, row.operatorName,
            row.event == "already" ? "already" : row.result);
    WidenSpan(figures, row.time, row.time);
  }
  FillHours(counting.hours);
  figures.hours = Rows(counting.hours);
  figures.programmers = Rows(counting.programmers);
  figures.operators = Rows(counting.operators);
  figures.causes = Pareto(counting.causes);
  figures.steps = Pareto(counting.steps);
  figures.blocks = Pareto(counting.blocks);
}

// Where each run ends: its end as recorded, else (cut short by a crash, or still going) its
// last event.
std::unordered_map<std::string, double> RunEnds(const TraceContents& contents) {
  std::unordered_map<std::string, double> ends;
  for (const TraceEvent& event : contents.events) {
    double at = 0.0;
    if (!ParseUtc(event.row.time, at)) continue;
    const auto [place, added] = ends.try_emplace(event.row.run, at);
    if (!added) place->second = std::max(place->second, at);
  }
  for (const TraceRun& run : contents.runs) {
    double at = 0.0;
    if (ParseUtc(run.endedAt, at)) ends[run.id] = at;
  }
  return ends;
}

// From a "lost" event to the next "back" of the same programmer in the same run; a
// programmer that never came back was lost until its run ended.
std::vector<LostRow> LostTime(const TraceContents& contents) {
  std::map<std::string, LostRow> rows;
  std::map<std::pair<std::string, std::string>, double> away;  // by run and programmer
  for (const TraceEvent& event : contents.events) {
    const PartRecord& row = event.row;
    double at = 0.0;
    if ((row.event != "lost" && row.event != "back") || !ParseUtc(row.time, at)) continue;
    const auto who = std::make_pair(row.run, row.programmerKey);
    if (row.event == "lost" && away.emplace(who, at).second) ++rows[row.programmerKey].losses;
    const auto since = away.find(who);
    if (row.event != "back" || since == away.end()) continue;
    rows[row.programmerKey].seconds += std::max(at - since->second, 0.0);
    away.erase(since);
  }
  const std::unordered_map<std::string, double> ends = RunEnds(contents);
  for (const auto& [who, since] : away) {
    LostRow& lost = rows[who.second];
    ++lost.neverBack;
    const auto end = ends.find(who.first);
    if (end != ends.end()) lost.seconds += std::max(end->second - since, 0.0);
  }
  std::vector<LostRow> list;
  for (auto& [key, row] : rows) {
    row.programmer = Named(key);
    list.push_back(row);
  }
  return list;
}

std::vector<LotRow> Lots(const TraceContents& contents) {
  std::vector<LotRow> rows;
  for (size_t index = 0; index < contents.jobs.size(); ++index) {
    const TraceJob& job = contents.jobs[index];
    LotState state;
    state.lot = job.lot;
    if (index < contents.lots.size()) state = contents.lots[index];
    rows.push_back({job.hash, job.name, state});
  }
  return rows;
}

}  // namespace

double YieldPercent(const Tally& tally) {
  return tally.Judged() > 0 ? 100.0 * tally.pass / tally.Judged() : -1.0;
}

std::string YieldText(const Tally& tally) {
  return tally.Judged() > 0 ? Format("%.1f%%", YieldPercent(tally)) : "-";
}

bool ParseUtc(const std::string& text, double& seconds) {
  int field[std::size(kTimeFields)] = {};
  if (text.size() < 20 || text.back() != 'Z') return false;
  for (size_t index = 0; index < std::size(kTimeFields); ++index) {
    const TimeField& f = kTimeFields[index];
    if (!Digits(text, f.at, f.digits, field[index]) || field[index] > f.most) return false;
    if (f.after != '\0' && text[f.at + f.digits] != f.after) return false;
  }
  double fraction = 0.0;
  if (text.size() > 20 && !Fraction(text.substr(19, text.size() - 20), fraction)) return false;
  const std::chrono::year_month_day date{std::chrono::year{field[0]},
                                         std::chrono::month{static_cast<unsigned>(field[1])},
                                         std::chrono::day{static_cast<unsigned>(field[2])}};
  if (!date.ok()) return false;
  const long long days = std::chrono::sys_days{date}.time_since_epoch().count();
  seconds =
      static_cast<double>(days * 86400 + field[3] * 3600 + field[4] * 60 + field[5]) + fraction;
  return true;
}

ShiftFigures Figures(const TraceContents& contents) {
  ShiftFigures figures;
  figures.runs = static_cast<int>(contents.runs.size());
  CountParts(contents, figures);
  figures.lost = LostTime(contents);
  figures.lots = Lots(contents);
  return figures;
}

}  // namespace qs71prog
