#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "display/display.h"
#include "display/screen_writer.h"
#include "production/part_record.h"

namespace qs71prog {

// How one programmer's loop stands.
struct ProgrammerCounters {
  int programmer = 0;
  std::string key;  // its serial, else its path; empty until the run names it
  // Each part's fate apart: a part written without its verify is no pass, one that held this
  // image already was never made here, and an aborted one is scrap but no verdict on the chips.
  int passed = 0;
  int failed = 0;
  int unverified = 0;
  int already = 0;
  int aborted = 0;
  int untouched = 0;
  std::string activity;  // "waiting for a part", "part 3: write 45%"
  std::string lost;      // while the programmer is lost: what to do, "LOST — check the USB cable"
  // Its tile on a terminal: the word in big letters (a verdict, BUSY, RESEAT, LOST; none while
  // the socket waits) and the line that goes with it, and a remark after that line ("programmer
  // back", "not in the log").
  std::string word;
  std::string detail;
  std::string note;
  // The tile as it was when the programmer was lost: the part in the socket is still to be
  // dealt with when it comes back.
  std::string wordBeforeLoss;
  std::string detailBeforeLoss;
};

// "programmer 1: passed 4  failed 1  812 parts/hour  | waiting for a part" (the activity when
// asked for), the other counts after failed when there are any; the rate over `hours` since
// the run began, "-" before a part has got a verdict.
std::string CountersLine(const ProgrammerCounters& counters, double hours, bool activity);

// The shift as the summary names it.
struct RunFacts {
  std::string run, station, operatorName, image, sha256;
  std::string startUtc;  // "2026-12-07T19:40:00.123Z"
  std::string policy{};  // what the station's policy lets run, in words (policy/station_policy.h)
};

// What a production run shows, for every programmer's loop at once (each from its own
// thread). The loops hand it their state under one lock and go on; its own thread
// (ScreenWriter) writes, so that a terminal that stops taking text delays the picture and
// never a part:
//   terminal  a tile per programmer, kept at the bottom and redrawn in place: its name, a big
//             word for what the operator must do (BUSY while a part is made, then its verdict,
//             RESEAT, LOST) and its counters; each part's line scrolls above the tiles
//   plain     a line per part with its result word and the counters, and a line when a loop
//             starts waiting
//   json      one "part" event per part, "message" events, one "end" event
// The library's lines and qs71prog's notes of a part are shown only when the part failed:
// they say why, and a passing part needs one line.
class ProductionDisplay {
 public:
  ProductionDisplay(DisplayKind kind, TextSink& sink, const std::vector<int>& programmers);
  // Writes what still waits first.
  ~ProductionDisplay();
  ProductionDisplay(const ProductionDisplay&) = delete;
  ProductionDisplay& operator=(const ProductionDisplay&) = delete;

  // The run's first line: the job, its image and the image's hash.
  void Title(const std::string& text);
  // A line about the run that changes as it goes (the lot's progress, a trace recording
  // locally): above the tiles on a terminal, a line of its own elsewhere when it changes.
  void Status(const std::string& text);
  // Who made what, for the summary.
  void SetRun(const RunFacts& facts);
  // Colour on a terminal, and a bell there on FAIL, RESEAT and LOST.
  void SetLook(bool colour, bool bell);
  // The terminal's width in columns (0: unknown). A tile's line longer than that wraps onto
  // more rows, and the redraw must take all of them away.
  void SetWidth(int columns);
  // The programmer's name beside its number; makes the tile of one that came after the start.
  void Name(int programmer, const std::string& key);
  // A part's job begins (part 0: it has no number yet): the last verdict goes at once and the
  // tile says BUSY until this part's verdict.
  void PartStarted(int programmer, int part);
  // The part under way has its number for good (its started row holds it): the tile shows it.
  void PartNumbered(int programmer, int part);
  // A loop's state. transient: progress that only a terminal redraws in place.
  void Activity(int programmer, const std::string& text, bool transient);
  // The programmer's part failed and its failing blocks are being searched: still BUSY.
  void Checking(int programmer, int part);
  // A part ended: counts it by record.result and shows its verdict; story holds its job's lines
  // when it failed.
  void PartDone(const PartRecord& record, const std::vector<std::string>& story);
  // A good part whose row could not be written: the screen, the summary and the end say so.
  void NotLogged(const PartRecord& record, const std::string& missed);
  // Something in the socket does not answer: RESEAT until the next part starts or the socket
  // is empty.
  void Reseat(int programmer);
  // The part was taken out: the tile waits for the next one.
  void SocketEmpty(int programmer);
  // A programmer lost (hint: what to do) until it is Back: it counts no parts per hour
  // meanwhile, and the end names it when it did not come back.
  void Lost(int programmer, const std::string& hint);
  // The lost programmer answers again. With holds empty the part in the socket is the one its
  // tile spoke of before the loss, and the tile shows that again; else holds says what is in
  // the socket instead ("a blank part is in the socket, not part 3").
  void Back(int programmer, const std::string& holds);
  // A remark about a loop outside its parts (a lost programmer, its return).
  void Message(int programmer, const std::string& text);
  // A remark about the whole run (Ctrl-C), no programmer's.
  void RunMessage(const std::string& text);
  // Events a line's server refused and the station set aside (text: how many, where, and the
  // command that clears them): the summary names them until they are cleared.
  void LineRefused(int count, const std::string& text);
  // The shift's summary (each count, yield and parts per hour, per programmer and in all, the
  // programmers lost and the parts not logged), then the run's end and how it came (in words:
  // "count reached", "Ctrl-C").
  void End(ExitCode exit, const std::string& how);
  // The same summary as a JSON document, for --summary FILE; after End, with the end's time,
  // status and cause.
  std::string SummaryJson();
  // Waits until the terminal has taken everything shown so far (End does, before it returns).
  void Flush();

 private:
  ProgrammerCounters& Counters(int programmer);
  ProgrammerCounters Total() const;
  double Hours() const;
  void Redraw();
  ScreenWriter::Tiles DrawnTiles();
  std::string Tile(const ProgrammerCounters& entry) const;
  void Above(const std::string& text);
  void Out(const std::string& text);
  void Err(const std::string& text);
  void Ring();
  void ShowPart(const PartRecord& record, const std::vector<std::string>& story);
  void SendPartEvent(const PartRecord& record, const std::string& result,
                     const ProgrammerCounters& counters);
  std::string EndLines(const std::string& how) const;
  void ShowEnd(ExitCode exit, const std::string& how);

  std::mutex mutex;
  DisplayKind kind;
  std::vector<ProgrammerCounters> counters;
  std::vector<std::pair<PartRecord, std::string>> notLogged;  // with what lacks it
  RunFacts facts;
  std::chrono::steady_clock::time_point start;
  std::string status;
  int width = 0;
  bool colour = false;
  bool bell = false;
  bool ended = false;
  int exitCode = 0;
  std::string endedHow;
  int refused = 0;
  std::string refusedText;
  std::string endUtc;
  // Last, so that it goes first: its thread draws from everything above.
  std::unique_ptr<ScreenWriter> writer;
};

}  // namespace qs71prog
