#pragma once

#include <string>

#include "progress_model.h"

namespace qs71prog {

// "0:07", "1:02:03"; "--:--" for a negative (unknown) duration.
std::string FormatDuration(double seconds);

// The live bar for a terminal, at most columns - 1 characters so that it never wraps:
//   "write        [##########..........]  50%  0:07 left"
std::string RenderBar(const ProgressPoint& point, int columns);

// The line that replaces the bar when a stage is done:
//   "write        [####################] 100%  in 0:03"
std::string RenderDoneLine(const ProgressPoint& point, int columns);

// One line for a log, without a terminal:
//   "write  50%  address 0x01FFFF of 0x03FFFF"
std::string RenderPlainLine(const ProgressPoint& point);

}  // namespace qs71prog
