#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "display/display.h"
#include "production/part_record.h"

namespace qs71prog {

// How one programmer's loop stands.
struct ProgrammerCounters {
  int programmer = 0;
  int passed = 0;
  int failed = 0;
  std::string activity;  // "waiting for a part", "part 3: write 45%"
  std::string lost;      // while the programmer is lost: what to do, "LOST — check the USB cable"
  // Its tile on a terminal, until its next verdict: the word in big letters (PASS, FAIL,
  // LOST, none while its failing blocks are searched) and the line that goes with it.
  std::string word;
  std::string detail;
};

// "programmer 1: passed 4  failed 1  812 parts/hour  | waiting for a part" (the activity when
// asked for); the rate over `hours` since the run began, "-" before a part has ended.
std::string CountersLine(const ProgrammerCounters& counters, double hours, bool activity);

// What a production run shows, for every programmer's loop at once (each from its own
// thread; one lock keeps the output whole):
//   terminal  one counters line per programmer, kept at the bottom and redrawn in place, and
//             above it each part's verdict in big plain letters (BigWord)
//   plain     a line per part with the counters, and a line when a loop starts waiting
//   json      one "part" event per part, "message" events, one "end" event
// The library's lines and qs71prog's notes of a part are shown only when the part failed:
// they say why, and a passing part needs one line.
class ProductionDisplay {
 public:
  ProductionDisplay(DisplayKind kind, TextSink& sink, const std::vector<int>& programmers);

  // The run's first line: the job, its image and the image's hash.
  void Title(const std::string& text);
  // Colour on a terminal, and a bell on FAIL and LOST there.
  void SetLook(bool colour, bool bell);
  // The programmer's part failed and its failing blocks are being searched: its tile says so.
  void Checking(int programmer, int part);
  // A loop's state. transient: progress that only a terminal redraws in place.
  void Activity(int programmer, const std::string& text, bool transient);
  // A part ended: counts it, shows its verdict; story holds its job's lines when it failed.
  void PartDone(const PartRecord& record, const std::vector<std::string>& story);
  // A programmer lost (hint: what to do) until it is back (an empty hint): it counts no
  // parts per hour meanwhile, and the end names it when it did not come back.
  void Lost(int programmer, const std::string& hint);
  // A remark about a loop outside its parts (a lost programmer, Ctrl-C).
  void Message(int programmer, const std::string& text);
  // The shift's summary (passed, failed, yield and parts per hour, per programmer and in
  // all, and the programmers lost), then the run's end.
  void End(ExitCode exit);
  // The same summary as a JSON document, for --summary FILE.
  std::string SummaryJson();

 private:
  ProgrammerCounters& Counters(int programmer);
  ProgrammerCounters Total() const;
  double Hours() const;
  void EraseBlock();
  void DrawBlock();
  std::string Tile(const ProgrammerCounters& entry) const;
  void Above(const std::string& text);
  void ShowPart(const PartRecord& record, const std::vector<std::string>& story);
  void SendPartEvent(const PartRecord& record, const ProgrammerCounters& counters);

  std::mutex mutex;
  DisplayKind kind;
  TextSink& sink;
  std::vector<ProgrammerCounters> counters;
  std::chrono::steady_clock::time_point start;
  int drawnLines = 0;
  bool colour = false;
  bool bell = false;
};

}  // namespace qs71prog
