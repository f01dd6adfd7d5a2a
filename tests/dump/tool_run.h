#pragma once
// Running the real programs from a test: a command in a working folder, its standard output
// and error collected in files, its exit status decoded; and the files around it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "file_contents.h"
#include "wav_writer.h"

namespace dumpe2e {

struct ToolResult {
  int exitCode = -1;      // -1 when the program did not exit normally
  bool signaled = false;  // ended by a signal: a crash
  std::string out;
  std::string err;
};

// program with arguments (each quoted for the shell), run in dir.
ToolResult RunTool(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& dir);


// A fresh, empty folder under the build's test folder.
std::filesystem::path CleanFolder(const std::string& name);

// A canonical mono WAV file as qs71dump writes it, on the 16-bit scale.
struct Wav {
  uint32_t rate = 0;
  uint16_t bits = 0;
  uint16_t channels = 0;
  std::vector<int32_t> samples;
};
bool ReadWav(const std::filesystem::path& path, Wav* wav);

// The one file in dir whose name begins with prefix, or an empty path.
std::filesystem::path FindFile(const std::filesystem::path& dir, const std::string& prefix);

}  // namespace dumpe2e
