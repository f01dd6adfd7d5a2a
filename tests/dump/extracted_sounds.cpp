#include "extracted_sounds.h"

#include "byte_order.h"
#include "file_contents.h"

namespace dumpe2e {

namespace {

uint32_t Le(const std::vector<uint8_t>& b, size_t pos, int n) {
  return GetLittleEndian(b.data() + pos, n);
}

}  // namespace

bool ReadWav(const std::filesystem::path& path, Wav* wav) {
  const std::vector<uint8_t> b = ReadFileBytes(path);
  if (b.size() < 44 || Le(b, 0, 4) != 0x46464952 || Le(b, 8, 4) != 0x45564157) return false;
  wav->channels = static_cast<uint16_t>(Le(b, 22, 2));
  wav->rate = Le(b, 24, 4);
  wav->bits = static_cast<uint16_t>(Le(b, 34, 2));
  const size_t size = Le(b, 40, 4);
  if (b.size() != 44 + size || (wav->bits != 8 && wav->bits != 16)) return false;
  wav->samples.clear();
  for (size_t i = 44; i < b.size(); i += wav->bits / 8) {
    wav->samples.push_back(wav->bits == 8
                               ? (b[i] - 128) * 256
                               : static_cast<int16_t>(static_cast<uint16_t>(Le(b, i, 2))));
  }
  return true;
}

std::filesystem::path FindFile(const std::filesystem::path& dir, const std::string& prefix) {
  std::filesystem::path found;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) found = entry.path();
  }
  return found;
}

}  // namespace dumpe2e
