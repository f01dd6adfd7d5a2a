#pragma once
// The sounds qs71dump extracts, read back for comparison with the sources they were made from.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dumpe2e {

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
