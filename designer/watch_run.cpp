#include "watch_run.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "command_line.h"
#include "compile_state.h"
#include "driver.h"
#include "file_system.h"
#include "file_watch.h"
#include "link_map.h"
#include "name_tables.h"
#include "page_server.h"
#include "sound_kinds.h"

namespace {

// Quiet this long after a change before compiling: an editor's save or a sound tool's export
// comes as several writes and renames, and a compile of half a file is a wasted one.
constexpr int kSettleMs = 200;

// The signal handling that removes the outputs' scratch files ends the watch as a stop asked
// for: the private page goes too, and the exit code is 0.
void StopWatching() {
  RemovePrivatePage();
  std::_Exit(0);
}

int UsageError(FILE* err, const std::string& text) {
  std::fprintf(err, "qs71gen: %s (qs71gen --help lists the options)\n", text.c_str());
  return -2;
}

// The port from --serve's value, 0 when it is no port.
int ServePort(const std::string& text) {
  if (text.empty()) return kDefaultServePort;
  if (text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
  const int port = std::atoi(text.c_str());
  return port <= 65535 ? port : 0;
}

// What may not be watched: -1 when the options fit a watch, else the exit code, said on err.
int RefuseOptions(const GenOptions& options, FILE* err) {
  if (options.serve && ServePort(options.servePort) == 0) {
    return UsageError(err, "--serve takes a port from 1 to 65535, not " + options.servePort);
  }
  if (options.serve && !PageServingAvailable()) {
    return UsageError(err, "--serve is not available in this build; --watch with --html FILE writes the page, "
                           "for a browser to open");
  }
  return -1;
}

std::string Clock() {
  const std::time_t now = std::time(nullptr);
  char text[16] = "--:--:--";
  const std::tm* local = std::localtime(&now);
  if (local != nullptr) std::strftime(text, sizeof text, "%H:%M:%S", local);
  return text;
}

void PrintStatus(FILE* err, int exitCode, const WatchedCompile& record) {
  if (exitCode == 0) {
    std::fprintf(err, "qs71gen: %s compiled %s, %lld bytes free\n", Clock().c_str(), record.image.c_str(),
                 static_cast<long long>(record.freeBytes));
  } else {
    std::fprintf(err, "qs71gen: %s FAILED (exit %d): %s is left as it was\n", Clock().c_str(), exitCode,
                 record.image.c_str());
  }
  std::fflush(err);
}

// A file written during the compile in a folder the watch did not watch yet (the first
// compile's folders, a new wave file's) changed before the watch could see it: its time tells.
bool WrittenSince(const std::vector<std::string>& files, std::filesystem::file_time_type start) {
  const auto now = std::filesystem::file_time_type::clock::now();
  for (const std::string& file : files) {
    std::error_code error;
    const auto written = std::filesystem::last_write_time(file, error);
    if (!error && written >= start && written <= now) return true;
  }
  return false;
}

// Whether argv[i] stands where an option may: everything before it reads as options.
bool AtOptionPlace(const char* const* argv, int i) {
  GenOptions before;
  std::string error;
  return ParseGenOptions(i, argv, &before, &error) && before.scriptIndex == i;
}

// The command line of each compile under the watch: without --watch and --serve (with its port),
// so that a fit's compiles and its `compiled as:` line are those of a plain run.
std::vector<std::string> CompileArguments(int argc, const char* const* argv, const GenOptions& options) {
  std::vector<std::string> words;
  for (int i = 0; i < argc; ++i) {
    const std::string word = argv[i];
    const bool watching = word == "--watch" || word == "--serve" || word.rfind("--serve=", 0) == 0;
    if (i == 0 || i >= options.scriptIndex || !watching || !AtOptionPlace(argv, i)) {
      words.push_back(word);
      continue;
    }
    const bool port = word == "--serve" && i + 1 < options.scriptIndex && !std::string(argv[i + 1]).empty() &&
                      std::string(argv[i + 1]).find_first_not_of("0123456789") == std::string::npos;
    if (port) ++i;
  }
  return words;
}

// The inputs a compile read, without the script a fit writes: its own writing is no change.
void DropFitScript(std::vector<std::string>* inputs, const GenOptions& options) {
  if (options.fit.empty()) return;
  const FilePlace written = PlaceOf(options.fit);
  std::erase_if(*inputs, [&](const std::string& input) { return SamePlace(PlaceOf(input), written); });
}

// What the first compile reads for certain: the script on the command line and the project.
std::vector<std::string> FirstInputs(int argc, const char* const* argv, const GenOptions& options) {
  std::vector<std::string> inputs;
  if (options.scriptIndex < argc) inputs.push_back(argv[options.scriptIndex]);
  if (!options.project.empty()) inputs.push_back(options.project);
  return inputs;
}

// An input that is there but is no regular file (a FIFO, a device, a folder): a compile would
// wait on it or fail on it, so the watch passes over it until it is a file again. Empty when
// every input that exists is a regular file; a missing one is the compile's to report.
std::string OddInput(const std::vector<std::string>& inputs) {
  for (const std::string& file : inputs) {
    const FileIdentity id = IdentifyFile(file.c_str());
    if (id.exists && !id.regular) return file + " is " + FileKindName(id.kind);
  }
  return "";
}

int CannotWatch(FILE* err, const std::string& reason) {
  std::fprintf(err, "qs71gen: cannot watch the inputs: %s\n", reason.c_str());
  return -2;
}

// Waits while an input is no regular file, saying so once. The message comes once the inputs are
// watched, as the status does; a change made before the watch began is seen by looking again.
// -1 when the inputs are worth a compile, else the exit code.
int PassOver(FileWatch* watch, const std::vector<std::string>& inputs, FILE* err) {
  std::string said, reason;
  for (std::string odd = OddInput(inputs); !odd.empty(); odd = OddInput(inputs)) {
    if (!watch->Watch(inputs, &reason)) return CannotWatch(err, reason);
    if (OddInput(inputs) != odd) continue;
    if (odd != said) {
      std::fprintf(err, "qs71gen: %s %s, not a regular file: passed over until it is one\n", Clock().c_str(), odd.c_str());
      std::fflush(err);
    }
    said = odd;
    if (!watch->WaitForChange(kSettleMs, &reason)) return CannotWatch(err, reason);
  }
  return -1;
}

bool StartServing(PageServer* server, std::string* page, const GenOptions& options, FILE* err) {
  const int port = ServePort(options.servePort);
  std::string reason;
  if (!server->Start(page, port, &reason)) {
    std::fprintf(err, "qs71gen: cannot serve on 127.0.0.1:%d: %s\n", port, reason.c_str());
    return false;
  }
  std::fprintf(err, "qs71gen: serving the page on %s (Ctrl-C ends)\n", server->Address().c_str());
  return true;
}

}  // namespace

int RunWatch(int argc, const char* const* argv, const GenOptions& options, const CompileRoutes& routes, FILE* out,
             FILE* err) {
  const int refused = RefuseOptions(options, err);
  if (refused != -1) return refused;
  OnTermination(StopWatching);
  PageServer server;
  std::string page = options.html;
  if (options.serve && !StartServing(&server, &page, options, err)) return -2;
  FileWatch watch;
  std::vector<std::string> inputs = FirstInputs(argc, argv, options);
  const std::vector<std::string> words = CompileArguments(argc, argv, options);
  std::vector<const char*> args;
  for (const std::string& word : words) args.push_back(word.c_str());
  bool first = true;
  for (;;) {
    const int stopped = PassOver(&watch, inputs, err);
    if (stopped != -1) return stopped;
    const auto start = std::filesystem::file_time_type::clock::now();
    WatchedCompile record;
    record.page = page;
    const int exitCode = RunWatchedCompile(static_cast<int>(args.size()), args.data(), out, err, &record, &routes);
    DropFitScript(&record.inputs, options);
    // A stop ends the process where it waits, past the exit that would flush the listing.
    std::fflush(out);
    // A first compile that named no input was refused its command line (no script named, a
    // fit's new script over an input): no change of a file mends that. A later one that stopped
    // before it named its inputs (a project it could not read) keeps the last ones under watch.
    if (record.inputs.empty() && first) return exitCode;
    first = false;
    if (!record.inputs.empty()) inputs = record.inputs;
    std::string reason;
    const bool watching = watch.Watch(inputs, &reason);
    // The status comes once the inputs are watched: whoever waits for it may change them then.
    PrintStatus(err, exitCode, record);
    server.Published();
    if (watching && WrittenSince(inputs, start)) continue;
    if (!watching || !watch.WaitForChange(kSettleMs, &reason)) return CannotWatch(err, reason);
  }
}
