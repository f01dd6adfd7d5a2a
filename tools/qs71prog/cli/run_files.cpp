#include "cli/run_files.h"

#include <vector>

#include "file_system.h"

namespace qs71prog {

namespace {

struct RunFile {
  const char* option;
  const std::string& name;
};

// In the order of what matters most to keep: the image is never the one to rename.
std::vector<RunFile> GivenFiles(const Options& options) {
  const RunFile files[] = {
      {!options.jobFile.empty() ? "--job" : options.selection.write ? "--write" : "--verify",
       options.image},
      {"--make-job", options.makeJob},
      {"--log", options.log},
      {"--transcript", options.transcript},
      {"--summary", options.summary},
  };
  std::vector<RunFile> given;
  for (const RunFile& file : files) {
    if (!file.name.empty()) given.push_back(file);
  }
  return given;
}

// A device or a pipe (/dev/null for a transcript and a summary nobody keeps, /dev/stdout)
// takes each writer's text in place and holds nothing to lose; only a plain file, or a name
// still to be created, can be wiped or mixed into.
bool CanBeSpoilt(const FilePlace& place) {
  return !place.file.exists || place.file.regular;
}

}  // namespace

bool RunFilesApart(const Options& options, std::string& error) {
  const std::vector<RunFile> files = GivenFiles(options);
  std::vector<FilePlace> places;
  for (const RunFile& file : files) places.push_back(PlaceOf(file.name));
  for (size_t later = 1; later < files.size(); ++later) {
    for (size_t earlier = 0; earlier < later; ++earlier) {
      if (!CanBeSpoilt(places[later]) || !SamePlace(places[earlier], places[later])) continue;
      const RunFile& keep = files[earlier];
      const RunFile& rename = files[later];
      error = std::string(rename.option) + " " + rename.name + " and " + keep.option + " " +
              keep.name + " are the same file; give " + rename.option + " another name";
      return false;
    }
  }
  return true;
}

}  // namespace qs71prog
