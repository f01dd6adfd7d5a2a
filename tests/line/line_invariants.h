#pragma once
// What must hold of a line after any schedule of faults, checked against the ground truth: the
// part files themselves, which are the parts.
//
//  1. Every part file that holds the image has exactly one pass (or one "written, not
//     verified", a part whose programmer was lost after its write), and every pass is a part
//     file that holds the image: counted socket by socket (a socket is a station's
//     programmer, whose serial the trace keeps). A part that a killed run left under way, and
//     that no run of its station met again (the lot had no room left), stays under way in
//     the trace, and its station said to check it: it may hold the image.
//  2. Numbers are unique per job: no number was started by two runs.
//  3. The lot is never exceeded, and a line that ended made it whole, but for parts under way.
//  4. Every number the trace handed out is a part's, or was given back and is free again.
//  5. No part was reached by a call that did not hold its programmer (the emulator's record).
//  6. The report's figures equal the test's own count of the trace and the part files.
//  7. Nothing is left in a station's queue, and the line's server refused nothing.
//  8. Every station ended because the lot was complete.

#include <string>
#include <vector>

#include "line_harness.h"

namespace qs71line {

struct LineCount {
  int parts = 0;     // part files fed to the line
  int holding = 0;   // of them, those that hold the image
  int attempts = 0;  // parts rows
  int passes = 0;
  int open = 0;      // parts a killed run left under way, that no run met again
};

std::vector<std::string> CheckLine(Line& line, LineCount& count);

}  // namespace qs71line
