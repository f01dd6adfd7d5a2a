#pragma once
// The few file-system facts qs71gen needs beyond standard streams, one file per platform:
// whether two names are one file, and an image file that has no name of its own until the
// compile has succeeded, so that a failed or killed run never leaves a plausible image behind.

#include <cstdint>
#include <cstdio>
#include <string>

struct FileIdentity {
  bool exists = false;
  bool regular = false;  // a plain file; devices and pipes are written in place
  uint64_t volume = 0;   // device, or the Windows volume serial number
  uint64_t file = 0;     // inode, or the Windows file index
};

FileIdentity IdentifyFile(const char* path);

inline bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.exists && b.exists && a.volume == b.volume && a.file == b.file;
}

// A new, empty file in the folder of target, opened "wb+". Where the system allows it the file
// has no name at all (it vanishes with the process, also when killed); otherwise it gets a
// hidden name beside target, returned in name, which the caller must remove.
FILE* CreateScratchBeside(const std::string& target, std::string* name);

// Closes stream and gives its file the name target, replacing any file of that name in one
// step. False when that is not possible; the file is then removed.
bool CommitScratch(FILE* stream, const std::string& name, const std::string& target);

// Closes stream and removes the file, named or not.
void DiscardScratch(FILE* stream, const std::string& name);

// Calls cleanup once when the process is interrupted or told to end (Ctrl-C, SIGTERM, a closed
// console), then ends it as that signal would.
void OnTermination(void (*cleanup)());
