#include "job/programming_job.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "display/display.h"
#include "job/preflight.h"
#include "job/reporter.h"
#include "platform/writer_library.h"

namespace qs71prog {

namespace {

// The name of the udev rule that packaging/udev/ installs.
constexpr const char* kUdevRuleName = "70-qs71-programmer.rules";

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

DisplayKind ChooseDisplay(const Options& options, const Console& console) {
  if (options.json) return DisplayKind::kJson;
  return console.OutIsTerminal() ? DisplayKind::kTerminal : DisplayKind::kPlain;
}

// The emulated library takes its settings from the environment when it opens the
// programmer, as any host's would; QS71_EMU_ID, QS71_EMU_FAULTS and QS71_EMU_PACE_US pass
// through untouched.
bool PrepareEmulation(const Options& options, std::string& error) {
  if (!options.emulate) return true;
  const bool ok =
      (options.otpFile.empty() || SetEnvironment("QS71_EMU_OTP_FILE", options.otpFile)) &&
      (options.transcript.empty() || SetEnvironment("QS71_EMU_TRANSCRIPT", options.transcript));
  if (!ok) error = "cannot pass the emulator's settings through the environment";
  return ok;
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

JobDescription Describe(const Options& options, const WriterLibrary& library) {
  JobDescription job;
  job.selection = options.selection;
  job.image = options.image;
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

int32_t CallWriter(const WriterLibrary& library, const Options& options, JobCells& cells,
                   Reporter& reporter) {
  OutputCapture out(kStdoutFd,
                    [&reporter](const std::string& line) { reporter.Line(line, false); });
  OutputCapture err(kStderrFd, [&reporter](const std::string& line) { reporter.Line(line, true); });
  CellPoller poller(
      [&] {
        reporter.Sample([&] {
          out.Deliver();
          err.Deliver();
        });
      },
      PollInterval());
  out.Start();
  err.Start();
  poller.Start();
  const Selection& selection = options.selection;
  const int32_t result = library.Writer()(
      &cells.stage, &cells.progress, &cells.otpSize, selection.blankCheck,
      options.Volts(Voltage::kBlankCheckVdd), selection.write, options.Volts(Voltage::kWriteVdd),
      options.Volts(Voltage::kWriteVpp), selection.verify, options.Volts(Voltage::kVerifyVdd),
      options.clearMarker, options.image.c_str());
  poller.Stop();
  err.Stop();
  out.Stop();
  return result;
}

ExitCode NotCalled(const Options& options, Console& console, const std::string& problem,
                   ExitCode exit) {
  const auto display = MakeDisplay(ChooseDisplay(options, console), console, console.Columns());
  JobOutcome outcome;
  outcome.problem = problem;
  outcome.exit = exit;
  display->Finish(Describe(options, WriterLibrary()), outcome);
  return exit;
}

// With no programmer, the one thing qs71prog can add is why: one attached that this user
// may not open is the missing udev rule.
void HintAtAccess(const WriterLibrary& library, const JobOutcome& outcome, Reporter& reporter) {
  if (outcome.exit != ExitCode::kNoProgrammer || library.IsEmulated()) return;
  const std::string hint = AccessHint(FindProgrammers());
  if (!hint.empty()) reporter.Note(hint);
}

}  // namespace

std::string AccessHint(const std::vector<ProgrammerNode>& programmers) {
  for (const ProgrammerNode& node : programmers) {
    if (node.accessible) continue;
    return std::string("the programmer is attached at ") + node.path +
           " but this user may not open it. Install the udev rule " + kUdevRuleName +
           " (packaging/udev/ in the sources, lib/udev/rules.d/ after cmake --install):\n"
           "  sudo cp " +
           kUdevRuleName +
           " /etc/udev/rules.d/\n"
           "  sudo udevadm control --reload-rules && sudo udevadm trigger\n"
           "then unplug the programmer and plug it in again.";
  }
  return "";
}

ExitCode RunProgrammingJob(const Options& options, Console& console) {
  const Preflight preflight = PreflightImage(options);
  if (preflight.exit != ExitCode::kOk) {
    return NotCalled(options, console, preflight.problem, preflight.exit);
  }
  std::string problem;
  WriterLibrary library;
  if (!PrepareEmulation(options, problem) || !LoadFor(options, library, problem)) {
    return NotCalled(options, console, problem, ExitCode::kLibraryMissing);
  }
  const auto display = MakeDisplay(ChooseDisplay(options, console), console, console.Columns());
  const JobDescription job = Describe(options, library);
  JobCells cells;
  Reporter reporter(*display, cells, options.selection);
  reporter.Begin(job);
  if (library.IsEmulated()) reporter.Note(EmulationNote());
  if (!preflight.note.empty()) reporter.Note(preflight.note);
  JobOutcome outcome;
  outcome.called = true;
  outcome.result = CallWriter(library, options, cells, reporter);
  outcome.phase = reporter.Conclude(outcome.result);
  outcome.exit = ExitCodeFor(outcome.result, outcome.phase);
  outcome.otpSize = cells.otpSize < 0 ? 0 : cells.otpSize;
  outcome.seconds = reporter.Seconds();
  HintAtAccess(library, outcome, reporter);
  reporter.Finish(job, outcome);
  return outcome.exit;
}

}  // namespace qs71prog
