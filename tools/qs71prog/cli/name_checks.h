#pragma once
// The names a run keeps or shows: the operator's, the station's, this computer's, and every
// file's. The log and the trace store them as UTF-8 text, and a line's PostgreSQL server
// refuses anything else (an operator's name in Latin-1 would stay first in the station's queue
// and stop every later run), so each is checked before anything runs.

#include <string>

#include "cli/prog_options.h"

namespace qs71prog {

// True when every name is one line of UTF-8 (no control characters). On Windows the operator's
// and the station's names are first taken into UTF-8 from the code page the command line
// gives them in, and file names, which the system's calls take in that code page, need only
// be free of control characters. This computer's name is checked for a production run, which
// records it. False with error naming the option (or the computer) and the name as it may be
// shown.
bool CheckNames(Options& options, std::string& error);

}  // namespace qs71prog
