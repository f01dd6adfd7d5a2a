#pragma once
// The command line of qs71dump.

#include <string>
#include <vector>

#include "image_map.h"

struct DumpOptions {
  std::string image;
  bool json = false;
  bool help = false;
  bool version = false;
  std::string extractDir;  // empty: no extraction
  std::string htmlFile;    // empty: no page
  std::string namesFile;   // --names: the script or map that names the sounds' files
  DumpSettings settings;
  bool mainClockGiven = false;  // --main-clock: the rates need no warning about the clock
};

// DumpOk or DumpUsage with *problem naming the argument.
int ParseDumpOptions(const std::vector<std::string>& args, DumpOptions* options,
                     std::string* problem);

const char* DumpUsageText();

// "qs71dump 1.2.3\n": the project's version, as every program of it prints it.
const char* DumpVersionText();
