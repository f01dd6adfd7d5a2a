#pragma once
// qs71gen --watch and --serve: compile, then compile again each time an input changes, until
// Ctrl-C or SIGTERM. Each compile is a whole run of its own (its own compile state, outputs
// settled or left as they were), so a failed one leaves the last good image on disk.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "watched_compile.h"

struct CompileRoutes;
struct GenOptions;

// The whole watched run; options as the command line and any project gave them. The exit code:
// 0 when stopped by a signal, -2 for a wrong command line, a port that cannot be served on or a
// watch the system refuses.
// Each compile is run with routes, so that a fit under the watch fits again.
int RunWatch(int argc, const char* const* argv, const GenOptions& options, const CompileRoutes& routes, FILE* out,
             FILE* err);
