#pragma once
// qs71gen --html: the image's page with what only the compile knows (the script's sound names
// and wave files, the names each section links, the warnings with their lines), written once
// the image is complete and read back, so that the page shows the bytes that were written.

#include <string>

struct CompileState;

// 0, or 1 after a message on standard error naming the page.
int WriteCompilePage(CompileState& s, const std::string& path);

// The page of a failed compile, headed FAILED with its errors and the advice on fitting the part,
// its sounds with their source and prepared players, and its map. 0, or 1 after a message on
// standard error; the run fails either way.
int WriteFailedPage(CompileState& s, const std::string& path);
