#include "job/programming_job.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "display/display.h"
#include "job/preflight.h"
#include "job/call_text.h"
#include "job/programmer_choice.h"
#include "job/interruption.h"
#include "job/job_steps.h"
#include "job/plain_words.h"
#include "job/localisation.h"
#include "job/reporter.h"
#include "job/scratch_chip.h"
#include "platform/writer_library.h"
#include "qs71_usb_writer.h"
#include "sha256.h"

namespace qs71prog {

namespace {

// The second thread of a run: reads the library's stage and progress cells at a fixed
// interval while the call runs on the main thread.
class CellPoller {
 public:
  CellPoller(std::function<void()> sample, std::chrono::milliseconds interval)
      : sample(std::move(sample)), interval(interval) {}
  ~CellPoller() { Stop(); }
  CellPoller(const CellPoller&) = delete;
  CellPoller& operator=(const CellPoller&) = delete;

  void Start() {
    if (thread.joinable()) return;
    stopping = false;
    thread = std::thread(&CellPoller::Loop, this);
  }

  void Stop() {
    if (!thread.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    wake.notify_all();
    thread.join();
  }

 private:
  void Loop() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
      lock.unlock();
      sample();
      lock.lock();
      wake.wait_for(lock, interval, [this] { return stopping; });
    }
  }

  std::function<void()> sample;
  std::chrono::milliseconds interval;
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::thread thread;
};

// Often enough for a bar that moves smoothly, rare enough to cost nothing next to USB.
constexpr std::chrono::milliseconds kPollInterval{50};

// The emulated programmer finishes a whole part in milliseconds; tests that want to see a
// transfer move set QS71PROG_POLL_MS (1 to 1000) to poll faster than a person needs.
std::chrono::milliseconds PollInterval() {
  const char* text = std::getenv("QS71PROG_POLL_MS");
  const long value = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
  if (value < 1 || value > 1000) return kPollInterval;
  return std::chrono::milliseconds(value);
}

constexpr const char* kEnvironmentProblem =
    "cannot pass the emulator's settings through the environment";

// The emulated library takes its settings from the environment when it opens the
// programmer, as any host's would; QS71_EMU_ID, QS71_EMU_FAULTS and QS71_EMU_PACE_US pass
// through untouched.
bool PrepareEmulation(const Options& options, std::string& error) {
  if (!options.emulate) return true;
  const bool ok =
      (options.otpFile.empty() || SetEnvironment("QS71_EMU_OTP_FILE", options.otpFile)) &&
      (options.transcript.empty() || SetEnvironment("QS71_EMU_TRANSCRIPT", options.transcript));
  if (!ok) error = kEnvironmentProblem;
  return ok;
}

// The emulated programmer's chip must outlive a call when the job makes several.
bool KeepChipBetweenCalls(const Options& options, const WriterLibrary& library,
                          ScratchChip& scratch) {
  const bool severalCalls = PlanSteps(options.selection).size() > 1;
  return !library.IsEmulated() || !severalCalls || scratch.Keep();
}

JobDescription Describe(const Options& options, const WriterLibrary& library,
                        bool hashImage = true) {
  JobDescription job;
  job.selection = options.selection;
  job.image = options.image;
  if (hashImage && !options.image.empty()) job.sha256 = FileSha256(options.image.c_str());
  job.library = library.Path();
  job.emulated = library.IsEmulated();
  job.volts = options.volts;
  return job;
}

// The settings the emulated library will use, whether from the options or inherited.
std::string EmulatorSetting(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr ? value : "";
}

std::string EmulationNote() {
  const std::string otpFile = EmulatorSetting("QS71_EMU_OTP_FILE");
  const std::string transcript = EmulatorSetting("QS71_EMU_TRANSCRIPT");
  std::string note = "dry run on the emulated programmer";
  note += otpFile.empty() ? " with a fresh blank chip" : ", chip kept in " + otpFile;
  if (!transcript.empty()) note += ", transcript in " + transcript;
  return note;
}

// One job under way: what each of its steps needs, and how the job stands.
struct JobRun {
  const Options& options;
  const WriterLibrary& library;
  const ProgrammerLink& link;
  const JobDescription& job;
  JobCells& cells;
  Reporter& reporter;
  ScratchChip* scratch;  // null when no scratch chip is kept
  // Production: a first Ctrl-C lets the part under way be finished, every step of it, so
  // that it leaves the socket with a verdict; the loop stops after it.
  bool wholePart;
  JobOutcome outcome;
};

// Ctrl-C reaches every programmer's loop at once; the operator needs to read it once.
std::atomic_flag partInterruptAnnounced;

// A second Ctrl-C: the library's call is left where it stands and the process ends. The
// operating system closes the programmer; a write cut short leaves a part to scrap.
[[noreturn]] void Abort(JobRun& run, Phase phase) {
  JobOutcome outcome;
  outcome.phase = phase;
  outcome.exit = ExitCode::kAborted;
  outcome.otpSize = run.outcome.otpSize;
  outcome.seconds = run.reporter.Seconds();
  run.reporter.Finish(run.job, outcome);
  if (run.scratch != nullptr) run.scratch->Remove();
  std::_Exit(static_cast<int>(ExitCode::kAborted));
}

// Poller thread, after each reading of the cells.
void HeedInterrupts(JobRun& run, Phase phase, InterruptWatcher& watcher) {
  switch (watcher.Check(InterruptCount())) {
    case InterruptAction::kAnnounce:
      if (!run.wholePart) {
        run.reporter.Note(InterruptAnnouncement(phase));
      } else if (!partInterruptAnnounced.test_and_set()) {
        run.reporter.Note(PartInterruptAnnouncement());
      }
      break;
    case InterruptAction::kAbort:
      Abort(run, phase);
    case InterruptAction::kNone:
      break;
  }
}

int32_t CallWriter(JobRun& run, const JobStep& step) {
  Reporter& reporter = run.reporter;
  run.cells = JobCells();
  reporter.BeginCall(step.selection);
  InterruptWatcher interrupts;
  CallText text(!run.link.named, [&reporter](const std::string& line, bool onStderr) {
    reporter.Line(line, onStderr);
  });
  CellPoller poller(
      [&] {
        reporter.Sample([&] { text.Deliver(); });
        HeedInterrupts(run, step.phase, interrupts);
      },
      PollInterval());
  text.Start();
  poller.Start();
  const Options& options = run.options;
  const Selection& selection = step.selection;
  JobCells& cells = run.cells;
  const double blankCheckVdd = options.Volts(Voltage::kBlankCheckVdd);
  const double writeVdd = options.Volts(Voltage::kWriteVdd);
  const double writeVpp = options.Volts(Voltage::kWriteVpp);
  const double verifyVdd = options.Volts(Voltage::kVerifyVdd);
  const int32_t result =
      run.link.named
          ? run.library.WriterOn()(run.link.path.c_str(), CallText::Receive, &text, &cells.stage,
                                   &cells.progress, &cells.otpSize, selection.blankCheck,
                                   blankCheckVdd, selection.write, writeVdd, writeVpp,
                                   selection.verify, verifyVdd, options.clearMarker,
                                   options.image.c_str())
          : run.library.Writer()(&cells.stage, &cells.progress, &cells.otpSize,
                                 selection.blankCheck, blankCheckVdd, selection.write, writeVdd,
                                 writeVpp, selection.verify, verifyVdd, options.clearMarker,
                                 options.image.c_str());
  poller.Stop();
  text.Stop();
  return result;
}

ExitCode NotCalled(const Options& options, Console& console, const std::string& problem,
                   ExitCode exit) {
  const auto display = MakeDisplay(ChooseDisplay(options, console), console, console.Columns());
  JobOutcome outcome;
  outcome.problem = problem;
  outcome.exit = exit;
  // A file refused for its size or kind may be huge or endless: it is not read, not even for
  // its hash.
  const bool unread = exit == ExitCode::kImageSize || exit == ExitCode::kFileError;
  display->Finish(Describe(options, WriterLibrary(), !unread), outcome);
  return exit;
}

// The failure in the operator's words, after the library's own message. With no programmer,
// a real one may be attached that this user may not open: the udev rule is missing.
void SayWhatFailed(JobRun& run) {
  const JobOutcome& outcome = run.outcome;
  if (outcome.exit == ExitCode::kNoProgrammer) {
    const bool real = !run.library.IsEmulated();
    const auto words = NoProgrammerWords(real ? FindProgrammers() : std::vector<ProgrammerNode>{},
                                         real ? AccessRuleInstructions() : "");
    for (const std::string& line : words) run.reporter.Note(line);
    return;
  }
  FailureFacts facts;
  facts.phase = outcome.phase;
  facts.result = outcome.result;
  facts.otpSize = outcome.otpSize;
  facts.progress = run.cells.progress;
  facts.image = run.options.image;
  facts.rejectedId = run.reporter.RejectedId();
  const std::string found = FoundWords(facts);
  if (!found.empty()) run.reporter.Note(found);
}

// After identification: an image that does not fit the chip ends the job before the first
// operation, with the code and exit status the library's own check would have led to.
bool ImageFits(JobRun& run) {
  const Selection& selection = run.options.selection;
  if (!selection.write && !selection.verify) return true;
  JobOutcome& outcome = run.outcome;
  uint64_t imageSize = 0;
  const int32_t fit = CheckImageSize(run.options.image, outcome.otpSize, imageSize);
  if (fit == 0) return true;
  outcome.result = fit;
  outcome.phase = ImagePhase(selection);
  outcome.exit = ExitCodeFor(fit, outcome.phase);
  if (fit == QS71_E_FILE_SIZE) {
    run.reporter.Note(ImageSizeWords(run.options.image, imageSize, outcome.otpSize));
  }
  return false;
}

// False when the job ends with this step.
bool RunStep(JobRun& run, const JobStep& step) {
  JobOutcome& outcome = run.outcome;
  const auto began = std::chrono::steady_clock::now();
  outcome.result = CallWriter(run, step);
  const int stage = StageOfPhase(step.phase);
  outcome.stepSeconds[stage] =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  outcome.stepsRun[stage] = true;
  outcome.called = true;
  if (run.cells.otpSize > 0) outcome.otpSize = run.cells.otpSize;
  outcome.phase = run.reporter.Conclude(outcome.result);
  outcome.exit = ExitCodeFor(outcome.result, outcome.phase);
  if (outcome.result != 0) {
    SayWhatFailed(run);
    return false;
  }
  return step.phase != Phase::kIdentify || ImageFits(run);
}

// A Ctrl-C during a step is heeded once that step's call has returned: a failure it ended
// with is reported as such, and a job whose last step is done is simply done.
void RunSteps(JobRun& run) {
  for (const JobStep& step : PlanSteps(run.options.selection)) {
    if (!run.wholePart && InterruptCount() > 0) {
      run.outcome.exit = ExitCode::kInterrupted;
      return;
    }
    if (!RunStep(run, step)) return;
  }
}

// The job's programmer: the one --programmer names, or the first one found as before.
bool ChooseLink(const Options& options, const WriterLibrary& library, ProgrammerLink& link,
                std::string& problem) {
  if (options.programmer.empty()) return true;
  link.named = true;
  return FindProgrammer(library, options.programmer, link.path, problem);
}

// The job after its image and library passed: steps, localisation, the summary.
JobOutcome RunJob(JobRun& run, const std::string& emulationNote, const std::string& note) {
  run.reporter.Begin(run.job);
  if (!emulationNote.empty()) run.reporter.Note(emulationNote);
  if (!note.empty()) run.reporter.Note(note);
  RunSteps(run);
  LocateDifferences(run.options, run.library.Path(), run.link, run.outcome, run.reporter);
  run.outcome.seconds = run.reporter.Seconds();
  run.reporter.Finish(run.job, run.outcome);
  return run.outcome;
}

}  // namespace

DisplayKind ChooseDisplay(const Options& options, const Console& console) {
  if (options.json) return DisplayKind::kJson;
  return console.OutIsTerminal() ? DisplayKind::kTerminal : DisplayKind::kPlain;
}

// A dry run must never reach a real part, whatever --library points at.
bool LoadFor(const Options& options, WriterLibrary& library, std::string& error) {
  const auto candidates =
      LibraryCandidates(options.library, options.emulate, ExecutableDirectory(), ThisBuildTree());
  if (!LoadWriterLibrary(library, candidates, error)) return false;
  if (!options.emulate || library.IsEmulated()) return true;
  error = "--emulate needs the emulated programmer library, but " + library.Path() +
          " drives a real programmer";
  return false;
}

ExitCode RunProgrammingJob(const Options& options, Console& console) {
  const Preflight preflight = PreflightImage(options);
  if (preflight.exit != ExitCode::kOk) {
    return NotCalled(options, console, preflight.problem, preflight.exit);
  }
  const InterruptCounting counting;
  std::string problem;
  WriterLibrary library;
  if (!PrepareEmulation(options, problem) || !LoadFor(options, library, problem)) {
    return NotCalled(options, console, problem, ExitCode::kLibraryMissing);
  }
  ProgrammerLink link;
  if (!ChooseLink(options, library, link, problem)) {
    return NotCalled(options, console, problem, ExitCode::kNoProgrammer);
  }
  const std::string emulationNote = library.IsEmulated() ? EmulationNote() : "";
  ScratchChip scratch;
  if (!KeepChipBetweenCalls(options, library, scratch)) {
    return NotCalled(options, console, kEnvironmentProblem, ExitCode::kLibraryMissing);
  }
  const auto display = MakeDisplay(ChooseDisplay(options, console), console, console.Columns());
  const JobDescription job = Describe(options, library);
  JobCells cells;
  Reporter reporter(*display, cells, options.selection);
  JobRun run{options, library, link, job, cells, reporter, &scratch, false, JobOutcome()};
  return RunJob(run, emulationNote, preflight.note).exit;
}

Preflight PrepareProduction(const Options& options, WriterLibrary& library,
                            JobDescription& job) {
  Preflight preflight = PreflightImage(options);
  if (preflight.exit != ExitCode::kOk) return preflight;
  if (!LoadFor(options, library, preflight.problem)) {
    preflight.exit = ExitCode::kLibraryMissing;
    return preflight;
  }
  if (!library.NamesProgrammers()) {
    preflight.problem = library.Path() + " cannot name a programmer (no Qs71UsbWriterOn)";
    preflight.exit = ExitCode::kLibraryMissing;
    return preflight;
  }
  job = Describe(options, library);
  return preflight;
}

JobOutcome RunPartJob(const PartJob& part) {
  JobCells cells;
  Reporter reporter(part.display, cells, part.options.selection);
  JobRun run{part.options, part.library, part.link, part.job, cells, reporter,
             nullptr,      true,         JobOutcome()};
  return RunJob(run, "", "");
}

ExitCode ReportJobNotRun(const Options& options, Console& console, const std::string& problem,
                         ExitCode exit) {
  return NotCalled(options, console, problem, exit);
}

}  // namespace qs71prog
