#include "production/production_run.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "file_system.h"
#include "job/programming_job.h"
#include "output_writer.h"
#include "production/production_state.h"
#include "platform/host_system.h"
#include "qs71_usb_writer.h"
#include "text_format.h"
#include "trace/random_id.h"
#include "trace/trace_commands.h"

namespace qs71prog {

namespace {

// How often --all looks for programmers plugged in after the start, and --expect-programmers
// for the ones still missing.
constexpr std::chrono::milliseconds kArrivalPoll{1000};
constexpr std::chrono::milliseconds kStopCheck{25};

// Built beside its name and renamed, so that a failed write keeps the previous summary whole.
bool WriteSummary(const std::string& path, const std::string& json) {
  std::string reason;
  return WriteOutputText(path, json, &reason);
}

// The screen's first line: which image the run makes, by name, size and hash; for a job file,
// the job by its name, work order, its own hash and who signed it.
std::string JobTitle(const Options& options, size_t size, const std::string& sha256) {
  const std::string name = std::filesystem::path(options.image).filename().string();
  std::string title = (options.jobName.empty() ? "job: " : "job " + options.jobName + ": ");
  if (!options.workOrder.empty()) title += "work order " + options.workOrder + ", ";
  title += name + ", " + std::to_string(size) + " bytes, SHA-256 " + sha256.substr(0, 12);
  if (options.jobFile.empty()) return title;
  title += ", job file SHA-256 " + options.jobSha256.substr(0, 12);
  return title + (options.jobSigner.empty() ? ", not signed" : ", signed by key " + options.jobSigner);
}

void Sleep(std::chrono::milliseconds span) {
  const auto until = std::chrono::steady_clock::now() + span;
  while (InterruptCount() == 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(kStopCheck);
  }
}

// With --expect-programmers N the bench has N programmers: the run waits while fewer are
// attached (the bench is being cabled; Ctrl-C ends the wait), and refuses more, which is
// another bench's cabling or a wrong count.
bool ListExpected(const Options& options, const WriterLibrary& library, Console& console,
                  std::vector<ProgrammerIdentity>& found, std::string& problem) {
  int told = -1;
  for (;;) {
    if (!ListProgrammers(library, found, problem)) return false;
    const int attached = static_cast<int>(found.size());
    if (options.expectProgrammers == 0 || attached >= options.expectProgrammers) return true;
    if (InterruptCount() > 0) {
      problem = Format("%d programmers expected, %d attached when the wait was stopped",
                       options.expectProgrammers, attached);
      return false;
    }
    if (attached != told) {
      console.Err(Format("qs71prog: waiting for %d programmers, %d attached\n",
                         options.expectProgrammers, attached));
      told = attached;
    }
    Sleep(kArrivalPoll);
  }
}

// Every attached programmer with --all, the one --programmer names, or else the first; none
// (2) when --expect-programmers counts more attached. Each joins the registry, which gives it
// its tile and its key; listed is the listing they came from.
ExitCode ChooseProgrammers(const Options& options, const WriterLibrary& library,
                           Console& console, ProgrammerRegistry& registry,
                           std::vector<Attached>& chosen, std::vector<ProgrammerIdentity>& found,
                           std::string& problem) {
  if (!ListExpected(options, library, console, found, problem)) return ExitCode::kNoProgrammer;
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
    const ProgrammerIdentity& device = found[index];
    const std::string key = registry.KeyFor(device, found);
    chosen.push_back({registry.Join(device), key, {true, device}});
  }
  return ExitCode::kOk;
}

// Every programmer of the run, held for its whole length through the library: no other
// process, of this user or another, can drive it meanwhile.
ExitCode HoldProgrammers(ProgrammerHold& hold, const std::vector<Attached>& chosen,
                         std::string& problem) {
  for (const Attached& programmer : chosen) {
    const int32_t result = hold.Take(programmer.link.identity, "programmer " + programmer.key, problem);
    if (result != QS71_OK) return ExitCodeFor(result, Phase::kConnect);
  }
  return ExitCode::kOk;
}

// The emulated programmers keep their parts in the socket folders; without them every call
// would meet a fresh part and the loop would wait for a removal that never comes.
bool EmulatedSocketsSet(const WriterLibrary& library) {
  const char* sockets = std::getenv("QS71_EMU_SOCKET");
  return !library.IsEmulated() || (sockets != nullptr && *sockets != '\0');
}

// The command that checks a part against this run's image, as a station with only the job
// file can type it.
std::string VerifyCommand(const Options& options) {
  return options.jobFile.empty() ? "qs71prog --verify " + HintPath(options.image)
                                 : "qs71prog --job " + HintPath(options.jobFile) + " --verify";
}

// Parts that an earlier run began to write and never finished, by the trace and by the log:
// a crash or a power cut. Their numbers stay used; a person must look at them.
void ReportUnfinished(ProductionDisplay& board, std::vector<UnfinishedPart> unfinished,
                      const std::vector<TracePart>& traced, const std::string& verify) {
  for (const TracePart& part : traced) {
    const auto same = [&part](const UnfinishedPart& known) {
      return known.run == part.run && known.programmerKey == part.programmer &&
             known.part == part.number;
    };
    if (std::none_of(unfinished.begin(), unfinished.end(), same)) {
      unfinished.push_back({part.run, part.programmer, part.chipId, part.startedAt, part.number});
    }
  }
  std::map<std::string, std::vector<const UnfinishedPart*>> byRun;
  for (const UnfinishedPart& part : unfinished) byRun[part.run].push_back(&part);
  for (const auto& [run, parts] : byRun) {
    std::string which;
    for (const UnfinishedPart* part : parts) {
      which += (which.empty() ? "" : ", ") + part->programmerKey + " part " +
               std::to_string(part->part);
    }
    board.RunMessage(parts.size() == 1
                         ? "1 part of run " + run + " was under way when it stopped (" + which +
                               "): check it with " + verify
                         : std::to_string(parts.size()) + " parts of run " + run +
                               " were under way when it stopped (" + which +
                               "): check them with " + verify);
  }
}

// A row of the run's own for each programmer: where its numbering goes on at the start, and
// at the end what it made, the run's exit and how the run ended.
void LogRunRows(Production& production, const std::deque<Attached>& programmers,
                const std::deque<LoopResult>* loops, ExitCode exit, const std::string& how);

// The loops of the run, a thread each; with --all, programmers plugged in after the start
// join it with loops of their own, each with its start row, up to --expect-programmers.
class Loops {
 public:
  explicit Loops(Production& production) : production(production) {}

  void Start(const Attached& programmer) {
    programmers.push_back(programmer);
    results.emplace_back();
    LoopResult& result = results.back();
    const Attached& mine = programmers.back();
    ++running;
    threads.emplace_back([this, &result, &mine] {
      result = RunLoop(production, mine);
      --running;
    });
  }

  // Until every loop has ended: the count made, or the run stopped.
  void Run() {
    while (running > 0) {
      std::this_thread::sleep_for(kStopCheck);
      if (production.options.all && !Stopping(production)) TakeArrivals();
    }
    for (std::thread& thread : threads) thread.join();
  }

  const std::deque<Attached>& Programmers() const { return programmers; }
  const std::deque<LoopResult>& Results() const { return results; }

 private:
  void TakeArrivals() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastLook < kArrivalPoll) return;
    lastLook = now;
    std::vector<ProgrammerIdentity> found;
    std::string problem;
    if (!ListProgrammers(production.library, found, problem)) return;
    TellDuplicates(production, found);
    for (const ProgrammerIdentity& device : production.registry.Newcomers(found)) {
      if (!RoomFor(device)) continue;
      const std::string key = production.registry.KeyFor(device, found);
      if (production.hold.Take(device, "programmer " + key, problem) != QS71_OK) continue;
      Join(device, key);
    }
  }

  // --expect-programmers: the bench has that many, and a programmer beyond them belongs to
  // another bench; said once for each.
  bool RoomFor(const ProgrammerIdentity& device) {
    const int expected = production.options.expectProgrammers;
    if (expected == 0 || production.registry.Count() < expected) return true;
    if (refused.insert(std::string(device.node) + "\n" + SerialOf(device)).second) {
      production.board.RunMessage(Format(
          "the programmer at %s (%s) does not join the run: the bench has %d (--expect-programmers)",
          PathOf(device).c_str(), SerialOf(device).empty() ? "no serial" : SerialOf(device).c_str(),
          expected));
    }
    return false;
  }

  void Join(const ProgrammerIdentity& device, const std::string& key) {
    const Attached programmer{production.registry.Join(device), key, {true, device}};
    production.board.Name(programmer.id, key);
    production.board.RunMessage("programmer " + std::to_string(programmer.id) + " (" + key +
                                ") joined the run");
    LogRunRows(production, {programmer}, nullptr, ExitCode::kOk, "");
    if (!production.logFailed) Start(programmer);
  }

  Production& production;
  std::deque<Attached> programmers;
  std::deque<LoopResult> results;
  std::vector<std::thread> threads;
  std::atomic<int> running{0};
  std::set<std::string> refused;
  std::chrono::steady_clock::time_point lastLook = std::chrono::steady_clock::now();
};

// How the run ended, in words for the end rows, the summary and the screen's last line; a log
// or a trace that could not serve the run by what the screen said of it.
std::string HowItEnded(const Production& production, const std::deque<LoopResult>& loops) {
  bool aborted = false;
  bool allLost = !loops.empty();
  for (const LoopResult& loop : loops) {
    aborted = aborted || loop.aborted;
    allLost = allLost && loop.stillLost;
  }
  if (production.logFailed && !production.endReason.empty()) return production.endReason;
  if (production.traceFailed) return "the trace could not be written";
  if (production.logFailed) return "the log could not be written";
  if (production.lotComplete) return "lot complete";
  if (aborted) return "a second " + InterruptName() + " aborted the parts under way";
  if (InterruptCount() > 0) return InterruptName();
  if (production.stoppedOnFail) return "stop-on-fail";
  if (allLost) return "every programmer lost";
  return "count reached";
}

// A run ends for its lot when the good parts and those under way fill it; a part under way
// that then fails gives the lot its room back, which the end says, so that nobody takes the
// lot for made.
std::string RoomAgain(Production& production) {
  LotState state;
  std::string problem;
  if (!production.lotComplete || !production.trace.Lot(state, problem) || state.Room() == 0) return "";
  return Format(", then room again: %d to go after a part under way failed; run it again", state.Room());
}

// A failure after the parts (an end row, the trace's end or the summary not written) sets the
// exit unless one came before it: an interruption (12) and a lot completed (15) are none.
ExitCode Outranked(ExitCode exit, ExitCode failure) {
  const bool failed = exit != ExitCode::kOk && exit != ExitCode::kInterrupted &&
                      exit != ExitCode::kLotComplete;
  return failed || failure == ExitCode::kOk ? exit : failure;
}

// The run's exit: its first failure in time; Ctrl-C (12) when nothing failed.
ExitCode RunExit(const Production& production, const std::deque<LoopResult>& loops) {
  const ExitCode first = production.failures.First();
  if (first != ExitCode::kOk) return first;
  for (const LoopResult& loop : loops) {
    if (loop.interrupted) return ExitCode::kInterrupted;
  }
  return production.lotComplete ? ExitCode::kLotComplete : ExitCode::kOk;
}

// "passed 3 failed 1 yield 75.0%", then the parts counted apart when there were any:
// "already 1 untouched 2".
std::string Counted(const std::map<std::string, int>& results) {
  const auto parts = [&results](const char* kind) {
    const auto found = results.find(kind);
    return found == results.end() ? 0 : found->second;
  };
  const int judged = parts("pass") + parts("fail") + parts("unverified");
  const std::string yield = judged == 0 ? "-" : Format("%.1f%%", 100.0 * parts("pass") / judged);
  std::string text = Format("passed %d failed %d yield %s", parts("pass"), parts("fail"),
                            yield.c_str());
  for (const char* kind : {"unverified", "already", "aborted", "untouched"}) {
    if (parts(kind) > 0) text += Format(" %s %d", kind, parts(kind));
  }
  return text;
}

void LogRunRows(Production& production, const std::deque<Attached>& programmers,
                const std::deque<LoopResult>* loops, ExitCode exit, const std::string& how) {
  for (size_t index = 0; index < programmers.size(); ++index) {
    const Attached& programmer = programmers[index];
    PartRecord record;
    {
      std::lock_guard<std::mutex> lock(production.numbers);
      record = RecordOf(production, programmer, production.lastParts[programmer.key], {});
    }
    record.event = loops == nullptr ? "start" : "end";
    record.status = loops == nullptr ? "" : Counted((*loops)[index].results) + "; ended: " + how;
    record.exit = static_cast<int>(exit);
    if (!Log(production, record)) return;
  }
}

// What the run makes, as the trace keys it: a job file by its own hash; an image alone by its
// hash, marked so that it is never taken for a job file's.
TraceJob TracedJob(const Options& options, const JobDescription& job) {
  return {options.jobFile.empty() ? "image:" + job.sha256 : options.jobSha256,
          options.jobName,
          options.workOrder,
          options.jobSigner,
          options.image,
          job.sha256,
          options.lot};
}

// The trace opened and the run in it before the first part; a job whose lot is complete runs
// no more (15). A trace that cannot be written stops the run here (9).
ExitCode BeginTrace(const Options& options, RunTrace& trace, const TraceJob& traced,
                    const TraceRun& run, std::string& problem) {
  LotState lot;
  if (!trace.Begin(TracePlaceOf(options), traced, run, problem) || !trace.Lot(lot, problem)) {
    return ExitCode::kFileError;
  }
  if (!lot.Complete()) return ExitCode::kOk;
  problem = "the lot of " + (traced.name.empty() ? "job " + traced.hash.substr(0, 12) : traced.name) +
            " is complete (" + std::to_string(lot.good) + " good parts of " +
            std::to_string(lot.lot) + ", " + std::to_string(lot.scrap) + " scrap, in " +
            trace.Name() + "): the job makes no more parts";
  // The run is in the trace already: it ends there too, or the line would count it open.
  std::string notEnded;
  if (!trace.End(static_cast<int>(ExitCode::kLotComplete), "lot complete", notEnded)) {
    problem += "; " + notEnded + ": the run's end is not in the trace";
    return ExitCode::kFileError;
  }
  return ExitCode::kLotComplete;
}

}  // namespace

void RunFailures::Note(ExitCode exit, Moment when) {
  std::lock_guard<std::mutex> lock(mutex);
  if (first != ExitCode::kOk && firstAt <= when) return;
  first = exit;
  firstAt = when;
}

ExitCode RunFailures::First() const {
  std::lock_guard<std::mutex> lock(mutex);
  return first;
}

ExitCode RunProduction(const Options& options, Console& console) {
  const bool interruptIgnored = InterruptIgnored();
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
  ProgrammerRegistry registry;
  std::vector<Attached> chosen;
  std::vector<ProgrammerIdentity> listed;
  const ExitCode chose =
      ChooseProgrammers(options, library, console, registry, chosen, listed, problem);
  if (chose != ExitCode::kOk) {
    return ReportJobNotRun(options, console, problem, chose, preflight.bytes);
  }
  ProgrammerHold hold(library);
  const ExitCode held = HoldProgrammers(hold, chosen, problem);
  if (held != ExitCode::kOk) return ReportJobNotRun(options, console, problem, held, preflight.bytes);
  ProductionLog log;
  if (!options.log.empty() && !log.Open(options.log, problem)) {
    return ReportJobNotRun(options, console, problem, ExitCode::kFileError, preflight.bytes);
  }
  const LogHistory history = options.log.empty() ? LogHistory() : ReadLogHistory(options.log);
  const std::string host = HostName();
  const auto started = std::chrono::system_clock::now();
  const std::string runId = RandomUuid();
  const std::string station = options.station.empty() ? host : options.station;
  const TraceJob traced = TracedJob(options, job);
  RunTrace trace;
  const ExitCode traceOpened = BeginTrace(
      options, trace, traced,
      {runId, traced.hash, station, options.operatorName, host, QS71PROG_VERSION,
       UtcTimestamp(started), "", 0, ""},
      problem);
  if (traceOpened != ExitCode::kOk) {
    return ReportJobNotRun(options, console, problem, traceOpened, preflight.bytes);
  }
  std::vector<TracePart> crashed;
  if (!trace.Unfinished(crashed, problem) || !trace.EndStopped(crashed, problem)) {
    return ReportJobNotRun(options, console, problem, ExitCode::kFileError, preflight.bytes);
  }
  if (!preflight.note.empty()) console.Err("qs71prog: " + preflight.note + "\n");
  std::vector<int> ids;
  for (const Attached& programmer : chosen) ids.push_back(programmer.id);
  ProductionDisplay board(ChooseDisplay(options, console), console, ids);
  const char* noColour = std::getenv("NO_COLOR");
  board.SetLook(!options.noColour && (noColour == nullptr || *noColour == '\0'), options.bell);
  board.SetWidth(console.Columns());
  board.Title(JobTitle(options, preflight.bytes.size(), job.sha256) + "; " +
              PolicyWords(options.policy));
  board.RunMessage("trace: " + trace.Name());
  for (const std::string& note : trace.Notes()) board.RunMessage(note);
  Production production{options, library, job, preflight.bytes, board, log, trace, hold,
                        registry, host, runId, station, history.lastPart,
                        LogFloor(history, job.sha256)};
  board.SetRun({production.run, production.station, options.operatorName, options.image,
                job.sha256, UtcTimestamp(started), PolicyWords(options.policy), trace.Name()});
  for (const Attached& programmer : chosen) board.Name(programmer.id, programmer.key);
  if (interruptIgnored) {
    board.RunMessage(Format("Ctrl-C is ignored: the program that started qs71prog ignores it; "
                            "stop the run with kill -TERM %ld",
                            ProcessId()));
  }
  ReportUnfinished(board, history.unfinished, crashed, VerifyCommand(options));
  for (const TracePart& part : crashed) production.leftParts[part.programmer].push_back(part.number);
  TellDuplicates(production, listed);
  Loops loops(production);
  for (const Attached& programmer : chosen) {
    LogRunRows(production, {programmer}, nullptr, ExitCode::kOk, "");
    if (!production.logFailed) loops.Start(programmer);
  }
  loops.Run();
  ExitCode exit = RunExit(production, loops.Results());
  const std::string how = HowItEnded(production, loops.Results()) + RoomAgain(production);
  LogRunRows(production, loops.Programmers(), &loops.Results(), exit, how);
  exit = Outranked(exit, production.failures.First());
  if (!trace.End(static_cast<int>(exit), how, problem)) {
    board.RunMessage(problem + ": the run's end is not in the trace");
    exit = Outranked(exit, ExitCode::kFileError);
  } else if (const int unsent = trace.Unsent(); unsent > 0) {
    board.RunMessage(Format("%d %s not on the line's trace yet: %s with this station's next run",
                            unsent, unsent == 1 ? "event is" : "events are",
                            unsent == 1 ? "it goes to it" : "they go to it"));
  }
  if (const int refused = trace.Refused(); refused > 0) {
    board.LineRefused(refused, RefusedText(refused) + " (set aside in " +
                                   SpoolFile(TracePlaceOf(options)) + ": qs71prog --clear-refused)");
  }
  board.End(exit, how);
  if (!options.summary.empty() && !WriteSummary(options.summary, board.SummaryJson())) {
    console.Err("qs71prog: cannot write the summary " + options.summary + "\n");
    exit = Outranked(exit, ExitCode::kFileError);
  }
  return exit;
}

ExitCode ListProgrammersCommand(const Options& options, Console& console) {
  WriterLibrary library;
  std::string problem;
  std::vector<ProgrammerIdentity> found;
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
