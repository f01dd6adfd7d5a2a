#include "platform/writer_library.h"

#include <filesystem>
#include <system_error>

#include "platform/host_system.h"

#ifndef QS71PROG_BUILD_TOOL_DIR
#define QS71PROG_BUILD_TOOL_DIR ""
#endif
#ifndef QS71PROG_BUILD_LIBRARY_DIR
#define QS71PROG_BUILD_LIBRARY_DIR ""
#endif

namespace qs71prog {

namespace {

// The same folder however it is spelled; false when either does not exist.
bool SameDirectory(const std::string& a, const std::string& b) {
  std::error_code error;
  return !a.empty() && !b.empty() && std::filesystem::equivalent(a, b, error);
}

}  // namespace

// A library from before the job calls cannot give qs71prog the bytes-in, data-out contract
// it relies on, so it is refused as a whole rather than half used.
bool WriterLibrary::Load(const std::string& file, std::string& error) {
  SharedLibrary loaded;
  if (!loaded.Open(file, error)) return false;
  qs71::WriterBinding bound;
  bound.Bind([&](const char* name) { return loaded.Find<void (*)()>(name); });
  if (bound.job == nullptr || bound.compareRange == nullptr || bound.listProgrammers == nullptr) {
    error = file + " has no Qs71UsbJob, Qs71UsbCompareRange and Qs71UsbListProgrammers";
    return false;
  }
  // A library from before the hold cannot keep a programmer from its first part to its last,
  // nor one from before the identities tell a programmer from another at its path.
  if (bound.listIdentities == nullptr || bound.holdProgrammer == nullptr ||
      bound.releaseProgrammer == nullptr) {
    error = file + " has no Qs71UsbListIdentities, Qs71UsbHoldProgrammer and Qs71UsbReleaseProgrammer";
    return false;
  }
  library = std::move(loaded);
  calls = bound;
  path = file;
  return true;
}

void WriterLibrary::SetChipFile(const std::string& file) const {
  if (calls.setOtpFile != nullptr) calls.setOtpFile(file.c_str());
}

void WriterLibrary::SetTranscript(const std::string& file) const {
  if (calls.setTranscript != nullptr) calls.setTranscript(file.c_str());
}

void WriterLibrary::SetChipId(const uint8_t (&id)[4]) const {
  if (calls.setChipId != nullptr) calls.setChipId(id[0], id[1], id[2], id[3]);
}

BuildTree ThisBuildTree() { return {QS71PROG_BUILD_TOOL_DIR, QS71PROG_BUILD_LIBRARY_DIR}; }

std::string LibraryFileName(bool emulated) {
  return SharedLibraryFileName(emulated ? "qs71_usb_writer_emulated" : "qs71_usb_writer");
}

// The build tree's library folder is tried only by the qs71prog in that tree: an installed
// copy must never pick up a library from a build left lying around.
std::vector<std::string> LibraryCandidates(const std::string& explicitPath, bool emulated,
                                           const std::string& executableDirectory,
                                           const BuildTree& build) {
  if (!explicitPath.empty()) return {explicitPath};
  const std::string name = LibraryFileName(emulated);
  std::vector<std::string> candidates;
  if (!executableDirectory.empty()) candidates = InstalledLibraryPaths(executableDirectory, name);
  if (SameDirectory(executableDirectory, build.toolDirectory)) {
    candidates.push_back(PathIn(build.libraryDirectory, name));
  }
  candidates.push_back(name);
  return candidates;
}

bool LoadWriterLibrary(WriterLibrary& library, const std::vector<std::string>& candidates,
                       std::string& error) {
  std::string attempts;
  for (const std::string& candidate : candidates) {
    std::string why;
    if (library.Load(candidate, why)) return true;
    attempts += (attempts.empty() ? "" : "; ") + why;
  }
  error = "cannot load the programmer library: " + attempts;
  return false;
}

}  // namespace qs71prog
