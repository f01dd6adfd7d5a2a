// The project reader on arbitrary bytes: TOML or not, any key, value and section, with the
// script and the folder it may name at hand; each sound's settings are then applied as a
// compile applies them. The same bytes as a script must give a starting project that reads.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz_support.h"
#include "project_file.h"

namespace {

bool Prepare() {
  EnterScratchFolder("fuzz-project");
  const char script[] = ".ADPCM hello = \"a.wav\"\n";
  WriteFileOrAbort("toy.qs", reinterpret_cast<const uint8_t*>(script), sizeof script - 1);
  std::filesystem::create_directories("listen");
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = Prepare();
  (void)ready;
  const std::string text(reinterpret_cast<const char*>(data), size);
  ProjectFile project;
  std::string error;
  if (ParseProjectText("toy.toml", text, &project, &error)) {
    for (const SoundSettings& own : project.sounds) {
      PreparationOptions options;
      if (!ApplySoundSettings(own, &options, &error)) std::abort();  // the reader checked them
    }
  } else if (error.rfind("toy.toml:", 0) != 0) {
    std::abort();  // every refusal names the file and the line
  }
  ProjectFile initial;
  const std::string written = InitialProjectText("toy.qs", "toy.bin", ScriptSoundNames(text));
  if (!ParseProjectText("toy.toml", written, &initial, &error)) std::abort();
  return 0;
}
