#pragma once

#include <string>

namespace qs71prog {

// The text of --help: options, the voltages with their defaults and ranges, the exit codes.
std::string UsageText();
// The one line of --version.
std::string VersionText();

}  // namespace qs71prog
