#pragma once
// A project file: the script, the outputs and the settings of a compile in one TOML file, with
// settings per sound by the script's sound name. The command line's options go over it.

#include <string>
#include <vector>

#include "project_settings.h"

struct CompileState;

// Reads a project's text; path names it in messages and gives the folder. False with error as
// "PATH:LINE: what is wrong; what is expected" for text that is not TOML, a key set twice, an
// unknown key, a value of the wrong type or out of range, or a script or folder that is missing.
bool ParseProjectText(const std::string& path, const std::string& text, ProjectFile* project,
                      std::string* error);

// Reads the file, then as ParseProjectText.
bool ReadProjectFile(const std::string& path, ProjectFile* project, std::string* error);

// The sounds with data that a script defines, in its order, by a plain reading of its lines.
std::vector<std::string> ScriptSoundNames(const std::string& scriptText);

// A commented project for script (as the project names it), every sound listed as a section
// of its own with its keys commented out, for the designer to fill in.
std::string InitialProjectText(const std::string& script, const std::string& image,
                               const std::vector<std::string>& sounds);

// --init-project FILE SCRIPT: a new project beside the script, or in the working folder, never
// over a file. 0, or -2 with the reason on s.Err.
int WriteInitialProject(CompileState& s, const std::string& file, int argc, const char* const* argv, int scriptIndex);
