#pragma once
// qs71gen --watch and --serve: compile, then compile again each time an input changes, until
// Ctrl-C or SIGTERM. Each compile is a whole run of its own (its own compile state, outputs
// settled or left as they were), so a failed one leaves the last good image on disk.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct GenOptions;

// What a compile run under the watch tells it: the files it read, and how it ended.
struct WatchedCompile {
  std::string page;                 // a page to write when the command line names none
  std::vector<std::string> inputs;  // the script, the project, every wave file named
  std::string image;
  int64_t freeBytes = 0;
};

// Notes a compile's inputs and free bytes into s.Watched, when the compile runs under a watch.
struct CompileState;
void NoteWatchedCompile(CompileState& s);

// The whole watched run; options as the command line and any project gave them. The exit code:
// 0 when stopped by a signal, -2 for a wrong command line, a port that cannot be served on or a
// watch the system refuses.
int RunWatch(int argc, const char* const* argv, const GenOptions& options, FILE* out, FILE* err);
