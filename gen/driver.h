#pragma once
// qs71gen from its command line to its exit code: open the script and the image, two passes
// over the script, finishing, the final count.

#include <cstdio>

struct CompileState;

// Prepares a pass: sets the pass number, prints its header and, for pass 1, the defaults.
void Init_yylex(CompileState& s, int pass);

// The whole run, with a compile state of its own: the listing goes to out and the messages to
// err, so that runs on several threads keep their texts apart. Returns the exit code (0, -2
// when a file cannot be opened, -3 on errors, 2 when a line of the script exceeds the
// scanner's limits).
int RunGenerator(int argc, const char* const* argv, FILE* out = stdout, FILE* err = stderr);

// Frees the name lists and closes every stream still open.
void ReleaseAll(CompileState& s);
