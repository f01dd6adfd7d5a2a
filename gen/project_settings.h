#pragma once
// What a compile takes from a project file: its names, its options and its settings per sound.
// The compile reads no project itself; the reader (project_file) fills this in through the
// route the program gives (CompileRoutes).

#include <cstdint>
#include <string>
#include <vector>

#include "audio/sound_preparation.h"
#include "command_line.h"

struct ProjectFile {
  std::string path;    // as given, for messages
  std::string folder;  // the project's paths, and the script's wave files, are read from here
  GenOptions options;  // what the project sets, as the command line sets it; paths from folder
  std::string script;  // from folder; empty when the project names none
  std::string image;
  std::vector<std::string> parameters;  // the script's %3 to %9
  int32_t partSize = 0;                 // bytes; 0: the script's $FILESIZE
  std::vector<SoundSettings> sounds;
};
