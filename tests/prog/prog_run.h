#pragma once
// qs71prog and the images it writes, as its tests need them.

#include <filesystem>
#include <string>
#include <vector>

#include "process_runner.h"

namespace qs71prog::test {

using testsupport::Environment;
using testsupport::ProcessResult;

// Runs qs71prog with these arguments and these variables added to its environment; standard
// output and error go to files, so neither is a terminal.
ProcessResult RunProg(const std::vector<std::string>& arguments,
                      const Environment& environment = {});

// The same with standard output and error on one pseudo-terminal of the given width;
// everything the terminal received is in out.
ProcessResult RunProgOnTerminal(const std::vector<std::string>& arguments,
                                const Environment& environment, int columns);

// Whether the emulated part file holds the image: qs71prog verifies it against the image. A
// part the emulated operator took out is looked for in out/ beside it.
bool PartHoldsImage(const std::filesystem::path& part, const std::filesystem::path& image);

// The demo project compiled by the real qs71gen, with $FILESIZE changed when size is given
// (hexadecimal, as the script writes it, e.g. "200000h"). Returns the image's path.
std::filesystem::path GeneratedImage(const std::filesystem::path& dir,
                                     const std::string& size = "");

}  // namespace qs71prog::test
