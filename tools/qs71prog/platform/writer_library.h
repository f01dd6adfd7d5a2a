#pragma once

#include <string>
#include <vector>

#include "qs71_usb_writer.h"
#include "qs71_usb_writer_binding.h"
#include "shared_library.h"

namespace qs71prog {

// qs71_usb_writer loaded at run time, as any host loads it. qs71prog does not link the
// library, so one program serves the production and the emulated build alike. It uses the
// calls that take the image as bytes and report in a result structure: what it judged and
// hashed is what reaches the part, and it learns how a call went from data, never from text.
class WriterLibrary {
 public:
  // Loads the file and looks up the job calls; a library loaded before stays loaded when
  // this one fails. On failure, error says why.
  bool Load(const std::string& path, std::string& error);
  Qs71UsbJobFunction Job() const { return calls.job; }
  Qs71UsbCompareRangeFunction CompareRange() const { return calls.compareRange; }
  // The programmers with their nodes: qs71prog names every programmer by its device.
  Qs71UsbListIdentitiesFunction ListIdentities() const { return calls.listIdentities; }
  // The hold of a programmer across calls, for a run from its first part to its last.
  Qs71UsbHoldProgrammerFunction Hold() const { return calls.holdProgrammer; }
  Qs71UsbReleaseProgrammerFunction Release() const { return calls.releaseProgrammer; }
  // Only the emulated build exports the emulator's control interface.
  bool IsEmulated() const { return calls.Emulated(); }
  // The emulated programmer's chip file and transcript, for every later call.
  void SetChipFile(const std::string& file) const;
  void SetTranscript(const std::string& file) const;
  // The emulated chip's four ID bytes, for every later call.
  void SetChipId(const uint8_t (&id)[4]) const;
  const std::string& Path() const { return path; }

 private:
  SharedLibrary library;
  qs71::WriterBinding calls;
  std::string path;
};

// "libqs71_usb_writer.so", "qs71_usb_writer_emulated.dll", ...
std::string LibraryFileName(bool emulated);

// Where the build put qs71prog and the libraries, for a qs71prog run from its build tree.
struct BuildTree {
  std::string toolDirectory;
  std::string libraryDirectory;
};

// This build's tree, as CMake knew it; empty where the build did not say.
BuildTree ThisBuildTree();

// Where to look, in order: the --library path alone when given; else beside the executable,
// in ../lib beside it (an installed Linux layout), in the build's library folder when this
// executable is the one in its build tree, and last the bare name for the system's loader
// (Linux: LD_LIBRARY_PATH and the system folders; Windows: the system folders and PATH).
std::vector<std::string> LibraryCandidates(const std::string& explicitPath, bool emulated,
                                           const std::string& executableDirectory,
                                           const BuildTree& build);

// Loads the first candidate that loads; error lists every attempt when none does.
bool LoadWriterLibrary(WriterLibrary& library, const std::vector<std::string>& candidates,
                       std::string& error);

}  // namespace qs71prog
