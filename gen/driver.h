#pragma once
// qs71gen from its command line to its exit code: open the script and the image, two passes
// over the script, finishing, the final count.

// Prepares a pass: sets the pass number, prints its header and, for pass 1, the defaults.
void Init_yylex(int pass);

// The whole run; returns the exit code (0, -2 when a file cannot be opened, -3 on errors, 2 when
// a line of the script exceeds the scanner's limits).
int RunGenerator(int argc, const char* const* argv);

// Frees the name lists and closes every stream still open.
void ReleaseAll();
