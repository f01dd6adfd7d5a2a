#include "cli/run_files.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "file_system.h"
#include "job/scratch_chip.h"
#include "trace/connection_password.h"
#include "trace/trace_commands.h"

namespace qs71prog {

namespace {

struct RunFile {
  std::string option;
  std::string name;
  bool written;  // the run writes it; a file only read is never the one to rename
};

void AddSocketFolder(const std::filesystem::path& folder, std::vector<RunFile>& files) {
  std::error_code error;
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::filesystem::path path = entry->path();
    if (path.extension() == ".otp") files.push_back({"the socket's part", path.string(), false});
  }
}

// The emulated programmer's files hold parts: the chip file of a dry run, and every *.otp of
// the socket folders of a production run (the folder itself, or its numbered subfolders).
// Text appended to one of them spoils that part; a log created as a new *.otp there would be
// taken for the next part.
void AddSocketParts(const Options& options, std::vector<RunFile>& files) {
  const char* sockets = std::getenv("QS71_EMU_SOCKET");
  if (!options.emulate || sockets == nullptr || *sockets == '\0') return;
  AddSocketFolder(sockets, files);
  std::error_code error;
  for (std::filesystem::directory_iterator entry(sockets, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    const bool numbered = !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
    if (numbered && entry->is_directory(error)) AddSocketFolder(entry->path(), files);
  }
}

// The files SQLite keeps beside a database while it is open or after a crash.
constexpr std::pair<const char*, const char*> kBesideSqlite[] = {
    {"-wal", "the write-ahead log of "}, {"-shm", "the shared-memory index of "}, {"-journal", "the rollback journal of "}};

// In the order of what matters most to keep: the image and the parts are never the ones to
// rename.
std::vector<RunFile> GivenFiles(const Options& options) {
  std::vector<RunFile> given;
  const auto add = [&given](const std::string& option, const std::string& name, bool written) {
    if (!name.empty()) given.push_back({option, name, written});
  };
  add(!options.jobFile.empty() ? "--job" : options.selection.write ? "--write" : "--verify",
      options.image, false);
  add("--make-job", options.makeJob, true);
  if (options.emulate) add("the emulated chip file", ChosenChipFile(options), false);
  AddSocketParts(options, given);
  // The station's record (a policy's trace or spool, the spool beside a line's server, the
  // station's own trace) and the files SQLite keeps beside it are never the ones to rename: text
  // appended to the write-ahead log or the journal is taken for the record's own pages. A trace
  // named without a policy keeps its place after the run's outputs.
  const bool server = IsConnectionString(options.trace);
  const bool policy = options.policy.Present();
  const bool named = !policy && !server && !options.trace.empty();
  const std::string record = RecordFile(TracePlaceOf(options));
  const std::string label = named    ? "the trace"
                            : policy ? (server ? "the station policy's spool" : "the station policy's trace")
                                     : (server ? "the station's spool" : "the station's trace");
  if (!named) add(label, record, true);
  for (const auto& [suffix, what] : kBesideSqlite) add(what + label, record.empty() ? "" : record + suffix, true);
  add("--log", options.log, true);
  add("--transcript", options.transcript, true);
  add("--summary", options.summary, true);
  // A trace on a server is no file here; the export and the report read theirs and write
  // their own outputs.
  if (!policy) {
    add("--trace", server ? "" : options.trace, options.exportCsv.empty() && options.report.empty());
  }
  add("--export-csv", options.exportCsv, true);
  add("--report", options.report == "-" ? "" : options.report, true);
  return given;
}

// A device or a pipe (/dev/null for a transcript and a summary nobody keeps, /dev/stdout)
// takes each writer's text in place and holds nothing to lose; only a plain file, or a name
// still to be created, can be wiped or mixed into.
bool CanBeSpoilt(const FilePlace& place) {
  return !place.file.exists || place.file.regular;
}

// A new *.otp written into a socket folder becomes a part of the run.
bool BecomesAPart(const RunFile& file, const std::vector<RunFile>& files) {
  const std::filesystem::path path(file.name);
  if (!file.written || path.extension() != ".otp") return false;
  const FilePlace folder = PlaceOf(path.has_parent_path() ? path.parent_path().string() : ".");
  return std::any_of(files.begin(), files.end(), [&folder](const RunFile& other) {
    if (other.option != "the socket's part") return false;
    const std::filesystem::path part(other.name);
    return SamePlace(PlaceOf(part.parent_path().string()), folder);
  });
}

}  // namespace

bool RunFilesApart(const Options& options, std::string& error) {
  const std::vector<RunFile> files = GivenFiles(options);
  std::vector<FilePlace> places;
  for (const RunFile& file : files) places.push_back(PlaceOf(file.name));
  for (size_t later = 1; later < files.size(); ++later) {
    if (!places[later].file.exists && BecomesAPart(files[later], files)) {
      error = files[later].option + " " + files[later].name +
              " would be taken for a part: its folder feeds an emulated socket; give " +
              files[later].option + " a name outside it";
      return false;
    }
    for (size_t earlier = 0; earlier < later; ++earlier) {
      if (!CanBeSpoilt(places[later]) || !SamePlace(places[earlier], places[later])) continue;
      const RunFile& keep = files[earlier];
      const RunFile& rename = files[later];
      error = rename.option + " " + rename.name + " and " + keep.option + " " + keep.name +
              " are the same file; give " + rename.option + " another name";
      return false;
    }
  }
  return true;
}

}  // namespace qs71prog
