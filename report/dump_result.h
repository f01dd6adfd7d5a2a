#pragma once
// Result codes of the image inspector: 0 or negative, one message each, and the exit code a
// shell sees. Only main turns a code into an exit status.

#include <cstdio>
#include <string>

#include "text_format.h"

enum DumpResult : int {
  DumpOk = 0,
  DumpUsage = -1,        // bad command line
  DumpOpenFailed = -2,   // the image cannot be opened or read
  DumpTooSmall = -3,     // shorter than the 512-byte system area
  DumpTooLarge = -4,     // larger than the chip address space
  DumpNoTag = -5,        // no 5A A5 at TagPos: not an image of a QS71 part
  DumpBadSections = -6,  // section entries that no image can hold
  DumpBadGroups = -7,    // group entries inconsistent under every GrpAdr tried
  DumpWriteFailed = -8,  // an extracted sound cannot be written
  DumpOutputFailed = -9, // standard output did not take the whole report
  DumpPageFailed = -10,  // the HTML page cannot be written, or would replace the image
  DumpNamesFailed = -11, // --names: the file cannot be read, or is the map of another image
};

// Exit status: 0 success, 1 usage, 2 a file cannot be read or written, 3 not an image.
int DumpExitCode(int result);

// The fixed part of the message for a code; details follow it after ": ".
const char* DumpMessage(int result);


// Flushes and closes a file that was written, written saying whether every write took all
// its bytes (call with errno cleared before the first write). The system's reason when
// anything failed, else empty: a full disk often shows only at the flush or the close.
std::string FinishWrite(FILE* file, bool written);
