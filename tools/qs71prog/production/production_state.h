#pragma once
// What the loops of one production run share: the job, the display, the log, the holds, the
// part numbers and the run's failures in the order they happened.

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/prog_options.h"
#include "display/production_display.h"
#include "job/job_report.h"
#include "job/programmer_choice.h"
#include "job/programmer_hold.h"
#include "production/part_record.h"
#include "production/production_log.h"
#include "production/programmer_registry.h"
#include "trace/run_trace.h"
#include "platform/writer_library.h"

namespace qs71prog {

// One programmer of the run: its device (ProgrammerRegistry), every call addressed to it. Its
// key (its serial; its path where it has none; "SERIAL@PATH" where another reports the same
// serial) names it in the log and on its tile for the whole run; the path is only where it is
// now, and changes when it comes back on another port.
struct Attached {
  int id = 0;  // its tile, in the order the run took the programmers
  std::string key;
  ProgrammerLink link;

  std::string Serial() const { return SerialOf(link.identity); }
};

// The run's failures, each with when it happened: the run's exit is the first one's, which
// is the one that needed a person first, whatever the order of the programmers.
class RunFailures {
 public:
  using Moment = std::chrono::steady_clock::time_point;
  void Note(ExitCode exit, Moment when = std::chrono::steady_clock::now());
  ExitCode First() const;

 private:
  mutable std::mutex mutex;
  ExitCode first = ExitCode::kOk;
  Moment firstAt{};
};

struct Production {
  const Options& options;
  const WriterLibrary& library;
  const JobDescription& job;
  const std::vector<uint8_t>& image;  // the pre-flight's bytes: every part gets these
  ProductionDisplay& board;
  ProductionLog& log;
  RunTrace& trace;
  ProgrammerHold& hold;
  ProgrammerRegistry& registry;
  std::string host;
  std::string run;      // this run's ID in the log
  std::string station;  // --station, or the host
  // Per programmer key, the highest number it used (for the run's own rows); and the highest
  // number in the CSV log, above which the trace's numbers go.
  std::map<std::string, int> lastParts;
  int logFloor = 0;
  // The numbers of the parts that a stopped run of this station (a crash, kill -9) left under
  // way, by programmer key: the socket keeps a part, so a written part found on that
  // programmer is that part, and its verdict is that number's.
  std::map<std::string, std::deque<int>> leftParts{};
  std::mutex numbers{};                  // guards lastParts and leftParts
  RunFailures failures{};
  // Why the run stops, once something stops it for every loop: --stop-on-fail's failed part,
  // or a log that cannot be written (a part that cannot be logged must not be made).
  std::atomic<bool> stopAll{false};
  std::atomic<bool> logFailed{false};
  std::atomic<bool> stoppedOnFail{false};
  std::atomic<bool> lotComplete{false};
  std::atomic<bool> traceFailed{false};
  // What stopped the run when the log or the trace could not serve it, in the words the screen
  // gave: its end says that, in the summary, the trace's run and the log's end rows. Written
  // once, by the loop that set logFailed, and read after every loop has ended.
  std::string endReason{};
};

// How one loop ended, and what its parts came to.
struct LoopResult {
  bool interrupted = false;
  bool aborted = false;    // a second interruption cancelled its part
  bool stillLost = false;  // the run ended while its programmer was lost
  std::map<std::string, int> results;  // parts by PartRecord::result
};

bool Stopping(const Production& production);

// One programmer's loop: wait for a part, run the job on it, record it, wait until it is
// taken out, again until --count or the run stops.
LoopResult RunLoop(Production& production, Attached programmer);

// Tells each serial that two programmers of this listing or of the run report, once.
void TellDuplicates(Production& production, const std::vector<ProgrammerIdentity>& listed);

// A row for the trace and the log; a row that cannot be written ends the run (exit 9) before
// the next part, and missed then names what lacks it ("the trace", "the log", "the trace and
// the log"). A part's verdict the trace could not take still goes into the log.
bool Log(Production& production, const PartRecord& record, std::string* missed = nullptr);

// The log cannot be written, or is no longer the file at its name: every loop ends before
// its next part, and the run with exit 9.
void LogFailed(Production& production, const std::string& problem);

// A record of the run's own with the programmer's fields filled in.
PartRecord RecordOf(const Production& production, const Attached& programmer, int part,
                    const JobOutcome& outcome);

}  // namespace qs71prog
