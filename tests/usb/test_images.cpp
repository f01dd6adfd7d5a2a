#include "test_images.h"


#include "system_area.h"

namespace qs71::test {

namespace {

// Distance from the end of the first byte the library checks or masks.
constexpr uint32_t kFirstRuledDistance = 78;

uint32_t Next(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

}  // namespace

std::vector<uint8_t> FreshSystemArea(const WriterLibrary& library) {
  library.Call(Job{});
  const std::vector<uint8_t> chip = library.Chip();
  return std::vector<uint8_t>(chip.end() - 512, chip.end());
}

std::vector<uint8_t> ValidImage(uint32_t size, const std::vector<uint8_t>& chipSystemArea,
                                uint32_t seed) {
  std::vector<uint8_t> image(size);
  uint32_t state = seed | 1;
  for (uint8_t& b : image) b = static_cast<uint8_t>(Next(state) >> 7);
  std::vector<uint8_t> systemArea = chipSystemArea;
  qs71::MaskSystemArea(systemArea);
  std::copy(systemArea.begin() + (512 - kFirstRuledDistance), systemArea.end(),
            image.end() - kFirstRuledDistance);
  return image;
}

std::vector<uint8_t> Programmed(uint32_t size, const std::vector<uint8_t>& chipSystemArea,
                                const std::vector<uint8_t>& image) {
  std::vector<uint8_t> fresh(size, 0xFF);
  std::copy(chipSystemArea.begin(), chipSystemArea.end(), fresh.end() - 512);
  for (uint32_t i = 0; i < size; ++i) fresh[i] &= image[i];
  return fresh;
}



}  // namespace qs71::test
