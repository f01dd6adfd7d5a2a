#pragma once
// The files a run reads and writes must be distinct: the log is appended to, the transcript
// is appended to by the emulated library, and the summary is written over at the end of the
// shift. Any of them on the image would put text into the master image; the summary on the
// log would wipe every row of the production log, earlier shifts' too. Two names are one file
// when they lead to one (a link, a hard link, another spelling of the path) or, for names
// not created yet, when they would create one. The emulated programmer's chip file and its
// sockets' part files are parts: nothing the run writes may land in one, nor be created as a
// new part in a socket's folder.

#include <string>

#include "cli/prog_options.h"

namespace qs71prog {

// False, with error saying which two options name one file and which one to rename, when two
// of the image, the emulated chip file or a socket's part, a station policy's trace and spool,
// --log, --transcript and --summary are the same file. Looks at the file
// system, so it is asked once the command line is read and before anything is opened.
bool RunFilesApart(const Options& options, std::string& error);

}  // namespace qs71prog
