#include "writer_library.h"

#include <filesystem>
#include <system_error>

#ifndef QS71PROG_BUILD_TOOL_DIR
#define QS71PROG_BUILD_TOOL_DIR ""
#endif
#ifndef QS71PROG_BUILD_LIBRARY_DIR
#define QS71PROG_BUILD_LIBRARY_DIR ""
#endif

namespace qs71prog {

namespace {

#if defined(_WIN32)
constexpr const char* kPrefix = "";
constexpr const char* kSuffix = ".dll";
constexpr char kSeparator = '\\';
#else
constexpr const char* kPrefix = "lib";
constexpr const char* kSuffix = ".so";
constexpr char kSeparator = '/';
#endif

// The same folder however it is spelled; false when either does not exist.
bool SameDirectory(const std::string& a, const std::string& b) {
  std::error_code error;
  return !a.empty() && !b.empty() && std::filesystem::equivalent(a, b, error);
}

}  // namespace

BuildTree ThisBuildTree() { return {QS71PROG_BUILD_TOOL_DIR, QS71PROG_BUILD_LIBRARY_DIR}; }

std::string LibraryFileName(bool emulated) {
  return std::string(kPrefix) + (emulated ? "qs71_usb_writer_emulated" : "qs71_usb_writer") +
         kSuffix;
}

// The build tree's library folder is tried only by the qs71prog in that tree: an installed
// copy must never pick up a library from a build left lying around.
std::vector<std::string> LibraryCandidates(const std::string& explicitPath, bool emulated,
                                           const std::string& executableDirectory,
                                           const BuildTree& build) {
  if (!explicitPath.empty()) return {explicitPath};
  const std::string name = LibraryFileName(emulated);
  std::vector<std::string> candidates;
  if (!executableDirectory.empty()) {
    candidates.push_back(executableDirectory + kSeparator + name);
#if !defined(_WIN32)
    candidates.push_back(executableDirectory + "/../lib/" + name);
#endif
  }
  if (SameDirectory(executableDirectory, build.toolDirectory)) {
    candidates.push_back(build.libraryDirectory + kSeparator + name);
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
