#pragma once
// What a compile run under a watch tells the watch (--watch, --serve): the files it read, the
// image it wrote and the room left. The compile fills it in; the watch reads it.

#include <cstdint>
#include <string>
#include <vector>

struct CompileState;

struct WatchedCompile {
  std::string page;                 // a page to write when the command line names none
  std::vector<std::string> inputs;  // the script, the project, every wave file named
  std::string image;
  int64_t freeBytes = 0;
};

// Notes a compile's inputs and free bytes into s.Watched, when the compile runs under a watch.
void NoteWatchedCompile(CompileState& s);
