#pragma once
// qs71gen from its command line to its exit code: open the script and the image, two passes
// over the script, finishing, the final count.

#include <cstdio>
#include <string>

struct CompileState;
struct GenOptions;
struct ProjectFile;
struct WatchedCompile;

// What a run does instead of a compile when its options ask for it: a watch (--watch, --serve)
// or a fit (--fit); the project it reads (--project) or writes (--init-project); and the page it
// writes (--html). The compiler knows them only by these; qs71gen's main gives them. A run
// without one refuses the option that needs it.
struct CompileRoutes {
  int (*watch)(int argc, const char* const* argv, const GenOptions& options, const CompileRoutes& routes, FILE* out,
               FILE* err) = nullptr;
  int (*fit)(CompileState& s, int argc, const char* const* argv, const GenOptions& options,
             const ProjectFile& project) = nullptr;
  bool (*readProject)(const std::string& path, ProjectFile* project, std::string* error) = nullptr;
  int (*initProject)(CompileState& s, const std::string& file, int argc, const char* const* argv,
                     int scriptIndex) = nullptr;
  // The page of a compile that succeeded (its result counts as the compile's), and of one that
  // failed (its result changes nothing).
  int (*page)(CompileState& s, const std::string& path) = nullptr;
  int (*failedPage)(CompileState& s, const std::string& path) = nullptr;
};

// Prepares a pass: sets the pass number, prints its header and, for pass 1, the defaults.
void Init_yylex(CompileState& s, int pass);

// The whole run, with a compile state of its own: the listing goes to out and the messages to
// err, so that runs on several threads keep their texts apart. Returns the exit code (0, -2
// when a file cannot be opened, -3 on errors, 2 when a line of the script exceeds the
// scanner's limits).
int RunGenerator(int argc, const char* const* argv, FILE* out = stdout, FILE* err = stderr,
                 const CompileRoutes* routes = nullptr);

// One compile of a watch, as RunGenerator runs it, telling record what it read.
int RunWatchedCompile(int argc, const char* const* argv, FILE* out, FILE* err, WatchedCompile* record,
                      const CompileRoutes* routes);

// Pass 1 alone, for a caller that reads what it found (the fit): the options taken and the
// streams opened as a compile takes and opens them, the banner and pass 1 listed to s.Out. The
// pass result, or -2 when the command line or a file is refused, 2 at a scanner limit; the
// caller ends with ReleaseAll either way.
int RunPassOne(CompileState& s, int argc, const char* const* argv);

// Frees the name lists and closes every stream still open.
void ReleaseAll(CompileState& s);
