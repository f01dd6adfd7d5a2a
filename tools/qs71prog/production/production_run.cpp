#include "production/production_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include "display/production_display.h"
#include "job/programmer_choice.h"
#include "job/programmer_lock.h"
#include "job/programming_job.h"
#include "production/part_display.h"
#include "production/production_log.h"
#include "platform/host_system.h"
#include "qs71_usb_writer.h"
#include "text_format.h"

namespace qs71prog {

namespace {

// About twice a second: a part is noticed as soon as a person can tell, and the programmer
// is not kept busy with identifications.
constexpr std::chrono::milliseconds kPollInterval{500};
// How soon a wait notices Ctrl-C or another loop's --stop-on-fail.
constexpr std::chrono::milliseconds kStopCheck{25};

struct Attached {
  int id = 0;  // its number in --list
  ProgrammerLink link;
  std::string serial;
};

// What every loop shares.
struct Production {
  const Options& options;
  const WriterLibrary& library;
  const JobDescription& job;
  const std::vector<uint8_t>& image;  // the pre-flight's bytes: every part gets these
  ProductionDisplay& board;
  ProductionLog& log;
  std::string host;
  std::string run;      // this run's ID in the log
  std::string station;  // --station, or the host
  std::map<int, int> lastParts;  // each programmer's last part number in the log
  // --stop-on-fail's failed part, or a log that could not be written: every loop ends before
  // its next part, since a part that cannot be logged must not be made.
  std::atomic<bool> stopAll{false};
};

// How one loop ended.
struct LoopResult {
  ExitCode firstFailure = ExitCode::kOk;  // the first failed part's status
  ExitCode lost = ExitCode::kOk;          // the loop could not go on: programmer, log
  bool interrupted = false;
  bool aborted = false;  // a second interruption cancelled its part
  int passed = 0;
  int failed = 0;
  ExitCode stillLost = ExitCode::kOk;  // the run ended while the programmer was lost
};

bool Stopping(const Production& production) {
  return InterruptCount() > 0 || production.stopAll.load();
}

// A programmer gone is a person's job: plugging it in again (-20, no programmer) or looking
// at it (any other code, a programmer error).
ExitCode LossExit(int32_t result) {
  return result == QS71_E_TRANSPORT ? ExitCode::kNoProgrammer
                                    : ExitCodeFor(result, Phase::kIdentify);
}

enum class Socket { kPart, kEmpty, kNoChip, kLost };

// An empty socket reads FF FF FF FF: nothing drives the lines, they float high. Any other ID
// that is not a chip's (00 00 00 00: a part in crooked, its pins shorted or held low) means
// something sits in the socket that does not answer.
constexpr uint8_t kEmptySocketId[4] = {0xFF, 0xFF, 0xFF, 0xFF};
// How long a part may not answer before the operator is told to reseat it: a part being
// pushed in gives a bad ID or two on the way.
constexpr std::chrono::seconds kNoChipPatience{3};

void QS71_CDECL KeepText(void* context, const char* text) {
  if (context != nullptr && text != nullptr) *static_cast<std::string*>(context) += text;
}

// What an identification found.
struct Look {
  Socket socket = Socket::kEmpty;
  int32_t result = 0;
  std::string chipId;
  std::string text;  // the library's lines, on one line
};

// An identification only. A chip that answers but is not a good part (an unknown size code,
// a damaged system area) is in the socket all the same: its job fails and records it. A
// socket that reads the empty ID is empty; another ID that is no chip's is a part that does
// not answer. Anything else means the programmer itself has gone wrong: unplugged, or no
// longer answering as it should.
Look LookIntoSocket(const Production& production, const Attached& programmer) {
  Look look;
  Qs71JobRequest request{};
  request.size = sizeof request;
  request.programmer = programmer.link.Programmer();
  request.output = KeepText;
  request.context = &look.text;
  Qs71JobResult identified{};
  identified.size = sizeof identified;
  look.result = production.library.Job()(&request, &identified);
  look.chipId = ChipIdText(identified.chipId);
  while (!look.text.empty() && look.text.back() == '\n') look.text.pop_back();
  std::replace(look.text.begin(), look.text.end(), '\n', ' ');
  if (look.result == QS71_OK || look.result == QS71_E_SIZE_CODE ||
      look.result == QS71_E_SYSTEM_AREA) {
    look.socket = Socket::kPart;
  } else if (look.result == QS71_E_OTP_ID) {
    const bool empty = std::equal(std::begin(kEmptySocketId), std::end(kEmptySocketId),
                                  std::begin(identified.chipId));
    look.socket = empty ? Socket::kEmpty : Socket::kNoChip;
  } else {
    look.socket = Socket::kLost;
  }
  return look;
}

void LogEvent(Production& production, const Attached& programmer, int part, const Look& look,
              const char* event, const std::string& status, LoopResult& loop);

void Pause(const Production& production) {
  const auto until = std::chrono::steady_clock::now() + kPollInterval;
  while (!Stopping(production) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(kStopCheck);
  }
}

bool Listed(const Production& production, const Attached& programmer) {
  std::vector<Qs71ProgrammerInfo> found;
  std::string problem;
  if (!ListProgrammers(production.library, found, problem)) return false;
  return std::any_of(found.begin(), found.end(), [&](const Qs71ProgrammerInfo& info) {
    return programmer.link.path == info.path ||
           (!programmer.serial.empty() && programmer.serial == info.serial);
  });
}

// A lost programmer stays LOST until it is listed again (by its path or its serial) and
// answers; false when the run ends first.
bool WaitForReturn(Production& production, const Attached& programmer, int part, Look& look,
                   LoopResult& loop) {
  const bool cable = look.result == QS71_E_TRANSPORT;
  const std::string alarm = production.options.expectProgrammers > 0 ? "ALARM: " : "";
  const std::string hint = cable ? "LOST — check the USB cable" : "LOST — look at the programmer";
  production.board.Message(programmer.id, alarm + "lost (" + std::to_string(look.result) +
                                              "): " + look.text + "; " + hint);
  LogEvent(production, programmer, part, look, "lost", cable ? "check the USB cable" : "lost",
           loop);
  production.board.Lost(programmer.id, hint);
  for (;;) {
    Pause(production);
    if (Stopping(production)) {
      loop.interrupted = InterruptCount() > 0;
      loop.stillLost = LossExit(look.result);
      return false;
    }
    if (!Listed(production, programmer)) continue;
    look = LookIntoSocket(production, programmer);
    if (look.socket == Socket::kLost) continue;
    production.board.Lost(programmer.id, "");
    production.board.Message(programmer.id, "back: " + programmer.link.path + " answers again; "
                                            "its loop goes on");
    LogEvent(production, programmer, part, look, "back", "back", loop);
    return true;
  }
}

// Until the socket is as wanted. False when the loop must end: Ctrl-C or another loop's
// failure (interrupted), or the run ended while the programmer was lost. A part that does
// not answer is no part to wait for, and no longer the part that was to be taken out.
bool WaitFor(Production& production, const Attached& programmer, int part, Socket wanted,
             LoopResult& loop) {
  std::chrono::steady_clock::time_point noChipSince{};
  bool told = false;
  for (;;) {
    if (Stopping(production)) {
      loop.interrupted = InterruptCount() > 0;
      return false;
    }
    Look look = LookIntoSocket(production, programmer);
    if (look.socket == Socket::kLost) {
      if (!WaitForReturn(production, programmer, part, look, loop)) return false;
    }
    if (look.socket == wanted || (wanted == Socket::kEmpty && look.socket == Socket::kNoChip)) {
      return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (look.socket != Socket::kNoChip) {
      noChipSince = {};
      told = false;
    } else if (noChipSince == std::chrono::steady_clock::time_point{}) {
      noChipSince = now;
    } else if (!told && now - noChipSince >= kNoChipPatience) {
      told = true;
      production.board.Activity(programmer.id, "no chip answers — reseat the part", false);
      LogEvent(production, programmer, part, look, "no-chip", "no chip answers — reseat the part",
               loop);
    }
    Pause(production);
  }
}

// What to do with a part that failed, in plain words. A part is scrap once its write began
// or it failed a check of the part itself; one the job stopped before touching (an image
// that does not fit it, a programmer gone before the write) goes back on the pile.
std::string NextStep(const JobOutcome& outcome) {
  constexpr ExitCode kPartChecks[] = {ExitCode::kChip, ExitCode::kNotBlank,
                                      ExitCode::kWriteFailed, ExitCode::kVerifyMismatch};
  const bool checked = std::find(std::begin(kPartChecks), std::end(kPartChecks), outcome.exit) !=
                       std::end(kPartChecks);
  const std::string step = outcome.stepsRun[StageOfPhase(Phase::kWrite)] || checked
                               ? "reject the part"
                               : "part untouched — use it again";
  return outcome.result == QS71_E_TRANSPORT ? "check the USB cable; " + step : step;
}

PartRecord RecordOf(const Production& production, const Attached& programmer, int part,
                    const JobOutcome& outcome) {
  PartRecord record;
  record.time = UtcTimestamp(std::chrono::system_clock::now());
  record.host = production.host;
  record.programmer = programmer.id;
  record.programmerPath = programmer.link.path;
  record.programmerSerial = programmer.serial;
  record.part = part;
  record.chipId = outcome.chipId;
  record.otpSize = outcome.otpSize;
  record.image = production.options.image;
  record.sha256 = production.job.sha256;
  record.passed = outcome.exit == ExitCode::kOk;
  record.exit = static_cast<int>(outcome.exit);
  record.status = DescribeExit(outcome.exit).name;
  if (!record.passed) record.status += " — " + NextStep(outcome);
  record.seconds = outcome.seconds;
  for (int stage = kFirstStage; stage <= kLastStage; ++stage) {
    if (outcome.stepsRun[stage]) record.stepSeconds[stage] = outcome.stepSeconds[stage];
  }
  record.blocks = outcome.failingBlocks;
  record.run = production.run;
  record.station = production.station;
  record.operatorName = production.options.operatorName;
  record.code = outcome.result;
  return record;
}

// A row that could not be written ends every loop before its next part.
void Log(Production& production, const Attached& programmer, const PartRecord& record,
         LoopResult& loop) {
  if (!production.log.IsOpen() || production.log.Append(record)) return;
  production.stopAll = true;
  production.board.Message(programmer.id, "cannot write the log " + production.options.log +
                                              "; the run ends");
  loop.lost = ExitCode::kFileError;
}

// A lost programmer, its return and a part that does not answer have rows of their own,
// so that the log tells where the time went.
void LogEvent(Production& production, const Attached& programmer, int part, const Look& look,
              const char* event, const std::string& status, LoopResult& loop) {
  JobOutcome outcome;
  outcome.result = look.result;
  outcome.chipId = look.socket == Socket::kLost ? "" : look.chipId;
  PartRecord record = RecordOf(production, programmer, part, outcome);
  record.exit = look.socket == Socket::kLost ? static_cast<int>(LossExit(look.result)) : 0;
  record.event = event;
  record.status = status;
  Log(production, programmer, record, loop);
}

// One part's job, shown and logged as the job finishes; a part that a second interruption
// cut short is logged with the steps it had.
ExitCode RunOnePart(Production& production, const Attached& programmer, int part,
                    LoopResult& loop) {
  PartDisplay display(production.board, programmer.id, part,
                      [&](const JobOutcome& outcome, const std::vector<std::string>& story) {
                        const PartRecord record = RecordOf(production, programmer, part, outcome);
                        Log(production, programmer, record, loop);
                        const std::vector<std::string> none;
                        production.board.PartDone(record, record.passed ? none : story);
                      });
  const JobOutcome outcome =
      RunPartJob({production.options, production.library, programmer.link, production.job,
                  production.image, display});
  if (outcome.exit == ExitCode::kAborted) loop.aborted = true;
  return outcome.exit;
}

LoopResult RunLoop(Production& production, const Attached& programmer) {
  LoopResult loop;
  ProductionDisplay& board = production.board;
  const int count = production.options.count;
  const auto last = production.lastParts.find(programmer.id);
  const int before = last == production.lastParts.end() ? 0 : last->second;
  for (int made = 1; count == 0 || made <= count; ++made) {
    const int part = before + made;
    board.Activity(programmer.id, "waiting for a part", false);
    if (!WaitFor(production, programmer, part, Socket::kPart, loop)) break;
    board.Activity(programmer.id, "part " + std::to_string(part) + " in the socket", false);
    const ExitCode exit = RunOnePart(production, programmer, part, loop);
    if (exit != ExitCode::kOk && loop.firstFailure == ExitCode::kOk) loop.firstFailure = exit;
    ++(exit == ExitCode::kOk ? loop.passed : loop.failed);
    if (exit != ExitCode::kOk && production.options.stopOnFail) production.stopAll = true;
    if (loop.lost != ExitCode::kOk || loop.aborted || made == count) break;
    if (Stopping(production)) {
      loop.interrupted = InterruptCount() > 0;
      break;
    }
    board.Activity(programmer.id, "part " + std::to_string(part) + " done, take it out", false);
    if (!WaitFor(production, programmer, part, Socket::kEmpty, loop)) break;
  }
  return loop;
}

// The run's status from its loops' (see production_run.h).
ExitCode Combine(const std::vector<LoopResult>& loops) {
  for (const LoopResult& loop : loops) {
    if (loop.lost != ExitCode::kOk) return loop.lost;
    if (loop.stillLost != ExitCode::kOk) return loop.stillLost;
  }
  for (const LoopResult& loop : loops) {
    if (loop.aborted) return ExitCode::kAborted;
  }
  for (const LoopResult& loop : loops) {
    if (loop.firstFailure != ExitCode::kOk) return loop.firstFailure;
  }
  for (const LoopResult& loop : loops) {
    if (loop.interrupted) return ExitCode::kInterrupted;
  }
  return ExitCode::kOk;
}

// A row of the run's own for each programmer: where its numbering goes on at the start, and
// what it made at the end (loops). A row that could not be written ends the run (9).
ExitCode LogEvents(Production& production, const std::vector<Attached>& chosen,
                   const char* event, const std::vector<LoopResult>* loops) {
  LoopResult logged;
  for (size_t index = 0; index < chosen.size(); ++index) {
    const Attached& programmer = chosen[index];
    const auto last = production.lastParts.find(programmer.id);
    PartRecord record = RecordOf(production, programmer,
                                 last == production.lastParts.end() ? 0 : last->second, {});
    record.event = event;
    record.status = "";
    if (loops != nullptr) {
      const LoopResult& loop = (*loops)[index];
      const int parts = loop.passed + loop.failed;
      record.part += parts;
      const std::string yield = parts == 0 ? "-" : Format("%.1f%%", 100.0 * loop.passed / parts);
      record.status =
          Format("passed %d failed %d yield %s", loop.passed, loop.failed, yield.c_str());
    }
    Log(production, programmer, record, logged);
  }
  return logged.lost;
}

bool WriteSummary(const std::string& path, const std::string& json) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << json;
  file.close();
  return !file.fail();
}

// The screen's first line: which image the run makes, by name, size and hash.
std::string JobTitle(const Options& options, size_t size, const std::string& sha256) {
  const std::string name = std::filesystem::path(options.image).filename().string();
  return (options.jobName.empty() ? "job: " : "job " + options.jobName + ": ") + name + ", " +
         std::to_string(size) + " bytes, SHA-256 " + sha256.substr(0, 12);
}

// Every attached programmer with --all, the one --programmer names, or else the first; none
// (2) when --expect-programmers counts others attached.
ExitCode ChooseProgrammers(const Options& options, const WriterLibrary& library,
                           std::vector<Attached>& chosen, std::string& problem) {
  std::vector<Qs71ProgrammerInfo> found;
  if (!ListProgrammers(library, found, problem)) return ExitCode::kNoProgrammer;
  if (options.expectProgrammers > 0 &&
      static_cast<int>(found.size()) != options.expectProgrammers) {
    problem = Format("%d programmers expected, %d attached", options.expectProgrammers,
                     static_cast<int>(found.size()));
    problem += found.empty() ? "" : ":\n" + ProgrammerListText(found);
    while (!problem.empty() && problem.back() == '\n') problem.pop_back();
    return ExitCode::kUsage;
  }
  if (found.empty()) {
    problem = "no programmer attached";
    return ExitCode::kNoProgrammer;
  }
  int only = 0;
  if (!options.programmer.empty()) only = ChooseProgrammer(found, options.programmer, problem);
  if (only < 0) return ExitCode::kNoProgrammer;
  const size_t first = static_cast<size_t>(only);
  const size_t end = options.all ? found.size() : first + 1;
  for (size_t index = options.all ? 0 : first; index < end; ++index) {
    chosen.push_back({static_cast<int>(index) + 1, {true, found[index].path}, found[index].serial});
  }
  return ExitCode::kOk;
}

// The emulated programmers keep their parts in the socket folders; without them every call
// would meet a fresh part and the loop would wait for a removal that never comes.
bool EmulatedSocketsSet(const WriterLibrary& library) {
  const char* sockets = std::getenv("QS71_EMU_SOCKET");
  return !library.IsEmulated() || (sockets != nullptr && *sockets != '\0');
}

// Every programmer of the run, for its whole length. The emulated programmers live in this
// process alone.
bool HoldProgrammers(const WriterLibrary& library, const std::vector<Attached>& chosen,
                     ProgrammerLock& lock, std::string& problem) {
  if (library.IsEmulated()) return true;
  for (const Attached& programmer : chosen) {
    if (!lock.HoldProgrammer(programmer.serial, programmer.link.path, problem)) return false;
  }
  return true;
}

std::vector<LoopResult> RunLoops(Production& production, const std::vector<Attached>& chosen) {
  std::vector<LoopResult> loops(chosen.size());
  if (chosen.size() == 1) {
    loops[0] = RunLoop(production, chosen[0]);
    return loops;
  }
  std::vector<std::thread> threads;
  for (size_t index = 0; index < chosen.size(); ++index) {
    threads.emplace_back([&production, &chosen, &loops, index] {
      loops[index] = RunLoop(production, chosen[index]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  return loops;
}

}  // namespace

ExitCode RunProduction(const Options& options, Console& console) {
  const InterruptCounting counting;
  WriterLibrary library;
  JobDescription job;
  const Preflight preflight = PrepareProduction(options, library, job);
  if (preflight.exit != ExitCode::kOk) {
    return ReportJobNotRun(options, console, preflight.problem, preflight.exit, preflight.bytes);
  }
  if (!EmulatedSocketsSet(library)) {
    return ReportJobNotRun(options, console,
                           "production on the emulated programmer takes its parts from the "
                           "folder QS71_EMU_SOCKET names, and it is not set",
                           ExitCode::kUsage, preflight.bytes);
  }
  std::string problem;
  if (!options.expectSha256.empty() && options.expectSha256 != job.sha256) {
    problem = "the image " + options.image + " is not the one expected: its SHA-256 is " +
              job.sha256 + ", --expect-sha256 gives " + options.expectSha256;
    return ReportJobNotRun(options, console, problem, ExitCode::kNotAnImage, preflight.bytes);
  }
  std::vector<Attached> chosen;
  const ExitCode chose = ChooseProgrammers(options, library, chosen, problem);
  if (chose != ExitCode::kOk) {
    return ReportJobNotRun(options, console, problem, chose, preflight.bytes);
  }
  ProgrammerLock lock;
  if (!HoldProgrammers(library, chosen, lock, problem)) {
    return ReportJobNotRun(options, console, problem, ExitCode::kBusy, preflight.bytes);
  }
  ProductionLog log;
  if (!options.log.empty() && !log.Open(options.log, problem)) {
    return ReportJobNotRun(options, console, problem, ExitCode::kFileError, preflight.bytes);
  }
  if (!preflight.note.empty()) console.Err("qs71prog: " + preflight.note + "\n");
  std::vector<int> ids;
  for (const Attached& programmer : chosen) ids.push_back(programmer.id);
  ProductionDisplay board(ChooseDisplay(options, console), console, ids);
  const char* noColour = std::getenv("NO_COLOR");
  board.SetLook(!options.noColour && (noColour == nullptr || *noColour == '\0'), options.bell);
  board.Title(JobTitle(options, preflight.bytes.size(), job.sha256));
  const std::string host = HostName();
  Production production{options,
                        library,
                        job,
                        preflight.bytes,
                        board,
                        log,
                        host,
                        Format("%s-%ld", RunStamp(std::chrono::system_clock::now()).c_str(),
                               ProcessId()),
                        options.station.empty() ? host : options.station,
                        options.log.empty() ? std::map<int, int>() : LastPartNumbers(options.log)};
  const ExitCode started = LogEvents(production, chosen, "start", nullptr);
  const std::vector<LoopResult> loops = RunLoops(production, chosen);
  const ExitCode ended = LogEvents(production, chosen, "end", &loops);
  ExitCode exit = started != ExitCode::kOk ? started : Combine(loops);
  if (exit == ExitCode::kOk) exit = ended;
  if (!options.summary.empty() && !WriteSummary(options.summary, board.SummaryJson())) {
    console.Err("qs71prog: cannot write the summary " + options.summary + "\n");
    if (exit == ExitCode::kOk) exit = ExitCode::kFileError;
  }
  board.End(exit);
  return exit;
}

ExitCode ListProgrammersCommand(const Options& options, Console& console) {
  WriterLibrary library;
  std::string problem;
  std::vector<Qs71ProgrammerInfo> found;
  if (!LoadFor(options, library, problem)) {
    console.Err("qs71prog: " + problem + "\n");
    return ExitCode::kLibraryMissing;
  }
  if (!ListProgrammers(library, found, problem)) {
    console.Err("qs71prog: " + problem + "\n");
    return ExitCode::kNoProgrammer;
  }
  console.Out(ProgrammerListText(found));
  return ExitCode::kOk;
}

}  // namespace qs71prog
