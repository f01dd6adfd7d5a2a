#pragma once
// The numbers of a shift, counted from what the trace holds: parts and yield by hour, by
// programmer and by operator, what the failed parts failed of and where in the chip, the time
// each programmer was lost, and how far each job's lot has come. The text report and the page
// (trace/shift_report.h) show these and nothing else, so both always agree.

#include <string>
#include <vector>

#include "trace/trace_store.h"

namespace qs71prog {

// Parts by their fate: every attempt on a chip, numbered (the parts table) or not (an
// untouched or ALREADY part, in its event alone). Yield is over the parts made and judged
// (pass, fail, unverified), as the run's own summary counts it: a part that held the image
// already, an aborted one and an untouched one say nothing of the chips. open: started and
// never ended (under way, or cut short by a crash).
struct Tally {
  int pass = 0;
  int fail = 0;
  int unverified = 0;
  int already = 0;
  int aborted = 0;
  int untouched = 0;
  int open = 0;

  int Judged() const { return pass + fail + unverified; }
  int All() const { return Judged() + already + aborted + untouched + open; }
};

// Percent passed of the judged parts; negative when none was judged.
double YieldPercent(const Tally& tally);
// "97.5%", or "-" when none was judged (the run's summary writes it so).
std::string YieldText(const Tally& tally);

// A UTC hour as "2026-12-07T19", a programmer's key or an operator's name, with its parts.
struct TallyRow {
  std::string key;
  Tally parts;
};

// One entry of a Pareto list: its count and the percent of all entries that it and every
// entry before it make up.
struct ParetoRow {
  std::string name;
  int count = 0;
  double cumulative = 0.0;
};

struct LostRow {
  std::string programmer;
  int losses = 0;
  int neverBack = 0;  // losses that lasted to the end of their run
  double seconds = 0.0;
};

// A job's lot over all its runs in the trace, whatever runs were chosen: a lot is the job's.
struct LotRow {
  std::string job;  // its hash
  std::string name;
  LotState state;
};

struct ShiftFigures {
  Tally all;
  int runs = 0;
  std::string first;  // the earliest start and the latest end of a part, UTC
  std::string last;
  // By hour of each part's end (an open part: of its start). The hours between without parts
  // are there too, unless the trace spans more than kFilledHours.
  std::vector<TallyRow> hours;
  std::vector<TallyRow> programmers;  // by key
  std::vector<TallyRow> operators;    // by name
  std::vector<ParetoRow> causes;      // the failed parts' statuses, most frequent first
  std::vector<ParetoRow> steps;       // the steps the failed parts failed in
  std::vector<ParetoRow> blocks;      // every block of every failed part, counted
  std::vector<LostRow> lost;          // by programmer key, only those ever lost
  std::vector<LotRow> lots;           // in the trace's order of jobs
};

// A week of hours; a longer trace lists only the hours that had parts.
constexpr int kFilledHours = 7 * 24;

ShiftFigures Figures(const TraceContents& contents);

// Seconds since 1970 of a time as the trace writes it ("2026-12-07T19:40:00.123Z", the
// fraction optional). False for any other text.
bool ParseUtc(const std::string& text, double& seconds);

}  // namespace qs71prog
