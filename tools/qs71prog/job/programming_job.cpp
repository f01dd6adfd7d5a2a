#include "job/programming_job.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "display/display.h"
#include "file_system.h"
#include "job/preflight.h"
#include "job/call_text.h"
#include "job/programmer_choice.h"
#include "job/interruption.h"
#include "job/plain_words.h"
#include "job/block_search.h"
#include "job/reporter.h"
#include "job/programmer_hold.h"
#include "job/scratch_chip.h"
#include "production/part_record.h"
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

constexpr const char* kScratchProblem = "cannot find a folder for the emulated chip's file";

// The image's SHA-256 from the bytes the pre-flight read: the bytes that reach the part. A
// refused file was read only when its size was a part's, so a huge one is never hashed.
JobDescription Describe(const Options& options, const WriterLibrary& library,
                        const std::vector<uint8_t>& image) {
  JobDescription job;
  job.selection = options.selection;
  job.image = options.image;
  if (!image.empty()) {
    job.sha256 = Sha256Hex(image.data(), image.size());
  }
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

std::string EmulationNote(const Options& options) {
  const std::string otpFile = ChosenChipFile(options);
  const std::string transcript =
      options.transcript.empty() ? EmulatorSetting("QS71_EMU_TRANSCRIPT") : options.transcript;
  std::string note = "dry run on the emulated programmer";
  note += otpFile.empty() ? " with a fresh blank chip" : ", chip kept in " + otpFile;
  if (!transcript.empty()) note += ", transcript in " + transcript;
  return note;
}

// The cancel cell of every call: a second interruption sets it, and each call under way stops
// before its next chunk, stops the OTP test and returns, so that its part is reported and
// logged with what it had. The library reads it with single aligned loads.
alignas(4) int32_t cancelCell = 0;

void CancelCalls() { std::atomic_ref<int32_t>(cancelCell).store(1); }

// One job under way: what each of its steps needs, and how the job stands.
struct JobRun {
  const Options& options;
  const WriterLibrary& library;
  const ProgrammerLink& link;
  const JobDescription& job;
  const std::vector<uint8_t>& image;  // the pre-flight's bytes, the same for every call
  JobCells& cells;
  Reporter& reporter;
  ScratchChip* chip;  // null in production: the sockets hold the parts
  // Production: a first interruption lets the part under way be finished, every step of it,
  // so that it leaves the socket with a verdict; the loop stops after it.
  bool wholePart;
  JobOutcome outcome;
  // Production only (PartJob): the record before the first write.
  std::function<bool(JobOutcome& outcome)> beforeWrite = {};
};

// An interruption reaches every programmer's loop at once; the operator needs to read it once.
std::atomic_flag partInterruptAnnounced;

// Poller thread, after each reading of the cells.
void HeedInterrupts(JobRun& run, Phase phase, InterruptWatcher& watcher) {
  switch (watcher.Check(InterruptCount())) {
    case InterruptAction::kAnnounce:
      if (!run.wholePart) {
        run.reporter.Note(InterruptAnnouncement(phase, InterruptName()));
      } else if (!partInterruptAnnounced.test_and_set()) {
        run.reporter.Note(PartInterruptAnnouncement(InterruptName()));
      }
      break;
    case InterruptAction::kAbort:
      CancelCalls();
      break;
    case InterruptAction::kNone:
      break;
  }
}

Qs71JobRequest RequestFor(const JobRun& run, const Selection& selection, CallText& text) {
  const Options& options = run.options;
  Qs71JobRequest request{};
  request.size = sizeof request;
  request.identity = run.link.Identity();
  request.blankCheck = selection.blankCheck;
  request.write = selection.write;
  request.verify = selection.verify;
  request.clearMarker = options.clearMarker;
  request.blankCheckVdd = options.Volts(Voltage::kBlankCheckVdd);
  request.writeVdd = options.Volts(Voltage::kWriteVdd);
  request.writeVpp = options.Volts(Voltage::kWriteVpp);
  request.verifyVdd = options.Volts(Voltage::kVerifyVdd);
  request.image = run.image.empty() ? nullptr : run.image.data();
  request.imageLength = static_cast<uint32_t>(run.image.size());
  request.output = CallText::Receive;
  request.context = &text;
  request.cancel = &cancelCell;
  return request;
}

int32_t CallWriter(JobRun& run, const JobStep& step) {
  Reporter& reporter = run.reporter;
  run.cells = FreshCells();
  reporter.BeginCall(step.selection);
  InterruptWatcher interrupts;
  CallText text([&reporter](const std::string& line) { reporter.Line(line, false); });
  CellPoller poller(
      [&] {
        reporter.Sample([&] { text.Deliver(); });
        HeedInterrupts(run, step.phase, interrupts);
      },
      PollInterval());
  poller.Start();
  const Qs71JobRequest request = RequestFor(run, step.selection, text);
  const int32_t result = run.library.Job()(&request, &run.cells);
  poller.Stop();
  text.Stop();
  return result;
}

// image: the pre-flight's bytes when it passed. A file refused as no image is of a part's
// size and is named by its hash all the same; one refused for its size or kind may be huge or
// endless, and is neither read nor hashed.
ExitCode NotCalled(const Options& options, Console& console, const std::string& problem,
                   ExitCode exit, const std::vector<uint8_t>& image) {
  const auto display = MakeDisplay(ChooseDisplay(options, console), console, console.Columns());
  JobOutcome outcome;
  outcome.problem = problem;
  outcome.exit = exit;
  JobDescription job = Describe(options, WriterLibrary(), image);
  if (exit == ExitCode::kNotAnImage) job.sha256 = FileSha256(options.image.c_str());
  display->Finish(job, outcome);
  return exit;
}

// The attached programmers as the library lists them, with whether this user may open each.
std::vector<ProgrammerNode> ListedNodes(const WriterLibrary& library) {
  std::vector<ProgrammerIdentity> found;
  std::string problem;
  std::vector<ProgrammerNode> nodes;
  if (!ListProgrammers(library, found, problem)) return nodes;
  for (const ProgrammerIdentity& info : found) nodes.push_back({PathOf(info), MayOpen(PathOf(info))});
  return nodes;
}

// The failure in the operator's words, after the library's own message. With no programmer,
// a real one may be attached that this user may not open: the udev rule is missing.
void SayWhatFailed(JobRun& run) {
  const JobOutcome& outcome = run.outcome;
  if (outcome.exit == ExitCode::kAborted) return;
  if (outcome.exit == ExitCode::kNoProgrammer) {
    if (run.library.IsEmulated()) {
      run.reporter.Note(EmulatedNoProgrammerWords());
      return;
    }
    const auto words = NoProgrammerWords(ListedNodes(run.library), AccessRuleInstructions());
    for (const std::string& line : words) run.reporter.Note(line);
    return;
  }
  FailureFacts facts;
  facts.phase = outcome.phase;
  facts.result = outcome.result;
  facts.otpSize = outcome.otpSize;
  facts.progress = run.cells.progress;
  facts.image = run.options.image;
  std::copy(std::begin(run.cells.chipId), std::end(run.cells.chipId), facts.chipId.begin());
  const std::string found = FoundWords(facts);
  if (!found.empty()) run.reporter.Note(found);
}

// The chip file whose size the emulated part took, for the words of an image that does not fit.
std::string SizedBy(const JobRun& run) { return run.chip != nullptr ? run.chip->SizedByFile() : ""; }

// After identification: an image that does not fit the chip ends the job before the first
// operation, with the code and exit status the library's own check would have led to.
bool ImageFits(JobRun& run) {
  const Selection& selection = run.options.selection;
  if (!selection.write && !selection.verify) return true;
  JobOutcome& outcome = run.outcome;
  const uint64_t imageSize = run.image.size();
  if (imageSize == static_cast<uint64_t>(outcome.otpSize)) return true;
  outcome.result = QS71_E_FILE_SIZE;
  outcome.phase = ImagePhase(selection);
  outcome.exit = ExitCodeFor(outcome.result, outcome.phase);
  run.reporter.Note(ImageSizeWords(run.options.image, imageSize, outcome.otpSize));
  if (run.library.IsEmulated()) run.reporter.Note(EmulatedSizeWords(imageSize, SizedBy(run)));
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
  // A call refused or failed before it got past the chip's identification (the programmer gone
  // or replaced since the last step) did nothing to the part: a write that never began leaves
  // it untouched, not scrap.
  outcome.stepsRun[stage] = outcome.result == 0 || run.cells.failedStep >= QS71_STEP_BLANK_CHECK;
  outcome.step = step.phase;
  outcome.called = true;
  if (run.cells.otpSize > 0) outcome.otpSize = run.cells.otpSize;
  if ((run.cells.stepsDone & (1u << QS71_STEP_IDENTIFY)) != 0) {
    outcome.chipId = ChipIdText(run.cells.chipId);
  }
  outcome.phase = run.reporter.Conclude(outcome.result);
  outcome.exit = outcome.result == QS71_E_CANCELLED ? ExitCode::kAborted
                                                    : ExitCodeFor(outcome.result, outcome.phase);
  if (outcome.exit == ExitCode::kAborted) outcome.signal = SignalForSummary(InterruptName());
  if (outcome.result != 0) {
    SayWhatFailed(run);
    return false;
  }
  return step.phase != Phase::kIdentify || ImageFits(run);
}

// A production part that passed an earlier run, or this one, and is put in again is not blank.
// Scrapping it would count one good part as a pass and a fail, so before its verdict it is
// verified against the image: a match is a part made already. A part that differs keeps the
// blank check's verdict, and its search for failing blocks, as if never compared.
void CheckWrittenAlready(JobRun& run) {
  if (!run.beforeWrite || run.outcome.exit != ExitCode::kNotBlank || run.image.empty() ||
      Cancelled()) {
    return;
  }
  const JobOutcome blankCheck = run.outcome;
  run.reporter.Note("the part is not blank: comparing it with the image");
  run.reporter.ComparingWithImage();
  const JobStep verify{Phase::kVerify, Selection{false, false, true}};
  const int32_t result = CallWriter(run, verify);
  run.reporter.Conclude(result);
  run.outcome = blankCheck;
  if (result != QS71_OK) return;
  run.outcome.already = true;
  run.outcome.result = QS71_OK;
  run.outcome.exit = ExitCode::kOk;
  run.reporter.Note("the part holds this image already: it was made before");
}

// A Ctrl-C during a step is heeded once that step's call has returned: a failure it ended
// with is reported as such, and a job whose last step is done is simply done.
void RunSteps(JobRun& run) {
  for (const JobStep& step : PlanSteps(run.options.selection)) {
    if (!run.wholePart && InterruptCount() > 0) {
      run.outcome.exit = ExitCode::kInterrupted;
      run.outcome.signal = SignalForSummary(InterruptName());
      return;
    }
    if (step.phase == Phase::kWrite && run.beforeWrite && !run.beforeWrite(run.outcome)) return;
    if (!RunStep(run, step)) {
      if (step.phase == Phase::kBlankCheck) CheckWrittenAlready(run);
      return;
    }
  }
}

// The job's programmer, chosen once: the one --programmer names, or the first programmer.
// Every call of the job goes to that device and no other: one that is gone, or another in its
// place, ends the job as a programmer lost. With none attached there is none to choose, and
// the first call fails as a missing programmer does.
bool ChooseLink(const Options& options, const WriterLibrary& library, ProgrammerLink& link,
                std::string& problem) {
  if (!options.programmer.empty()) {
    link.named = true;
    return FindProgrammer(library, options.programmer, link.identity, problem);
  }
  std::vector<ProgrammerIdentity> found;
  if (!ListProgrammers(library, found, problem)) return false;
  link.named = !found.empty();
  if (link.named) link.identity = found.front();
  return true;
}

// The emulator keeps a chip file for its first programmer only: another one meets a fresh chip
// in every call, so its write would end in a verify that finds a blank part, and nothing would
// be kept in the file the screen names.
bool ChipFileFitsLink(const Options& options, const WriterLibrary& library, const ProgrammerLink& link,
                      std::string& problem) {
  if (!library.IsEmulated() || !link.named || options.otpFile.empty()) return true;
  std::vector<ProgrammerIdentity> found;
  if (!ListProgrammers(library, found, problem)) return false;
  if (found.empty() || SameDevice(found.front(), link.identity)) return true;
  problem = "--emulate=" + options.otpFile + " keeps the chip of the emulated programmer 1 only; programmer " +
            options.programmer + " meets a fresh chip in every call: leave out --programmer, or give --programmer 1";
  return false;
}

// The programmer of a single job, held for its length (the emulated one keeps its chip file
// held). No programmer attached: nothing to hold, and the job fails in its first call as it
// always did; one gone since it was chosen fails there too.
ExitCode HoldForJob(const ProgrammerLink& link, const ScratchChip& chip, ProgrammerHold& hold,
                    std::string& problem) {
  if (!link.named) return ExitCode::kOk;
  const std::string what = chip.IsUsers() ? "the emulated programmer with the chip file " + chip.File()
                                          : "the programmer " + link.Path();
  const int32_t result = hold.Take(link.identity, what, problem);
  if (result == QS71_OK || result == QS71_E_TRANSPORT) return ExitCode::kOk;
  return ExitCodeFor(result, Phase::kConnect);
}

// The job after its image and library passed: steps, the search for failing blocks, the summary.
JobOutcome RunJob(JobRun& run, const std::string& emulationNote, const std::string& note) {
  run.reporter.Begin(run.job);
  if (!emulationNote.empty()) run.reporter.Note(emulationNote);
  if (!note.empty()) run.reporter.Note(note);
  RunSteps(run);
  LocateDifferences({run.options, run.library, run.link, run.image, &cancelCell, run.reporter},
                    run.outcome);
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
    return NotCalled(options, console, preflight.problem, preflight.exit, {});
  }
  const InterruptCounting counting;
  std::string problem;
  WriterLibrary library;
  if (!LoadFor(options, library, problem)) {
    return NotCalled(options, console, problem, ExitCode::kLibraryMissing, preflight.bytes);
  }
  ProgrammerLink link;
  if (!ChooseLink(options, library, link, problem)) {
    return NotCalled(options, console, problem, ExitCode::kNoProgrammer, preflight.bytes);
  }
  if (!ChipFileFitsLink(options, library, link, problem)) {
    return NotCalled(options, console, problem, ExitCode::kUsage, preflight.bytes);
  }
  const std::string emulationNote = library.IsEmulated() ? EmulationNote(options) : "";
  ScratchChip chip;
  if (!chip.Keep(options, library)) {
    return NotCalled(options, console, kScratchProblem, ExitCode::kLibraryMissing, preflight.bytes);
  }
  chip.ChoosePart(library, preflight.bytes.size());
  // The emulated programmer's hold makes a missing chip file.
  const bool chipFileExisted = ChipFileExists(chip);
  ProgrammerHold hold(library);
  const ExitCode held = HoldForJob(link, chip, hold, problem);
  if (held != ExitCode::kOk) return NotCalled(options, console, problem, held, preflight.bytes);
  const auto display = MakeDisplay(ChooseDisplay(options, console), console, console.Columns());
  const JobDescription job = Describe(options, library, preflight.bytes);
  JobCells cells = FreshCells();
  Reporter reporter(*display, cells, options.selection);
  JobRun run{options,  library, link,   job,  preflight.bytes, cells,
             reporter, &chip,   false, JobOutcome()};
  const ExitCode exit = RunJob(run, emulationNote, preflight.note).exit;
  // An image refused for the emulated chip's size leaves no chip of the wrong size behind:
  // the run again with QS71_EMU_ID set would meet it and fail on the old size.
  if (exit == ExitCode::kImageSize && !chipFileExisted) chip.ForgetUsersFile();
  return exit;
}

Preflight PrepareProduction(const Options& options, WriterLibrary& library,
                            JobDescription& job) {
  Preflight preflight = PreflightImage(options);
  if (preflight.exit != ExitCode::kOk) return preflight;
  if (!LoadFor(options, library, preflight.problem)) {
    preflight.exit = ExitCode::kLibraryMissing;
    return preflight;
  }
  job = Describe(options, library, preflight.bytes);
  return preflight;
}

JobOutcome RunPartJob(const PartJob& part) {
  JobCells cells = FreshCells();
  Reporter reporter(part.display, cells, part.options.selection);
  JobRun run{part.options, part.library, part.link,    part.job,
             part.image,   cells,        reporter,     nullptr,
             true,         JobOutcome(), part.beforeWrite};
  return RunJob(run, "", "");
}

ExitCode ReportJobNotRun(const Options& options, Console& console, const std::string& problem,
                         ExitCode exit, const std::vector<uint8_t>& image) {
  return NotCalled(options, console, problem, exit, image);
}

bool Cancelled() { return std::atomic_ref<int32_t>(cancelCell).load() != 0; }

}  // namespace qs71prog
