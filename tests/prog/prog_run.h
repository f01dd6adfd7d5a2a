#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "file_contents.h"

namespace qs71prog::test {

using Environment = std::vector<std::pair<std::string, std::string>>;

// One run of the real qs71prog.
struct ProgRun {
  int exit = -1;
  std::string out;
  std::string err;
};

// Runs qs71prog with these arguments and these variables added to an environment cleared of
// every QS71 setting; standard output and error go to files, so neither is a terminal.
ProgRun RunProg(const std::vector<std::string>& arguments, const Environment& environment = {});

// The same with standard output and error on one pseudo-terminal of the given width;
// everything the terminal received is in out.
ProgRun RunProgOnTerminal(const std::vector<std::string>& arguments, const Environment& environment,
                          int columns);

// A fresh, empty folder for one test.
std::filesystem::path TestDir(const std::string& name);

// The demo project compiled by the real qs71gen, with $FILESIZE changed when size is given
// (hexadecimal, as the script writes it, e.g. "200000h"). Returns the image's path.
std::filesystem::path GeneratedImage(const std::filesystem::path& dir,
                                     const std::string& size = "");

std::vector<std::string> Lines(const std::string& text);

}  // namespace qs71prog::test
