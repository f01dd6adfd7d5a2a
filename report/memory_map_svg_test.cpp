// The map picture: one block per region, per sound with data and per free stretch, at their
// file positions, each sound a link to its row.

#include "memory_map_svg.h"

#include <gtest/gtest.h>

#include "dump_result.h"
#include "format_test_support.h"

namespace {

constexpr int32_t kSize = 0x1000;

ImageMap MapOf(const std::vector<uint8_t>& image) {
  ImageMap map;
  std::string problem;
  EXPECT_EQ(BuildImageMap(image, DumpSettings{}, &map, &problem), DumpOk) << problem;
  return map;
}

TEST(MemoryMapSvg, OneBlockPerRegionSoundAndFreeStretch) {
  auto image = imagetest::BlankImage(kSize);
  // PCM16 of 8 bytes, a silence (no data, no block), u-law of 4 bytes after a gap of 4.
  const int32_t base = imagetest::PutSections(
      image, {{1, {{0x03, 31, 0, 7}, {0x00, 31, 0, 99}, {0x05, 31, 12, 15}}}}, 1);
  for (int32_t i = base; i < base + 16; ++i) image[static_cast<size_t>(i)] = 0x10;
  const ImageMap map = MapOf(image);
  std::vector<std::pair<std::string, std::pair<int64_t, int64_t>>> got;
  for (const MapBlock& b : MapBlocks(map)) got.push_back({b.kind, {b.first, b.last}});
  const int64_t system = map.layout.systemAreaStart;
  const decltype(got) expected = {
      {"header", {0, 15}},
      {"sections", {16, map.groupStart - 1}},
      {"groups", {map.groupStart, base - 1}},
      {"sound pcm16", {base, base + 7}},
      {"free", {base + 8, base + 11}},
      {"sound ulaw", {base + 12, base + 15}},
      {"free", {base + 16, system - 1}},
      {"system", {system, kSize - 1}},
  };
  EXPECT_EQ(got, expected);
  const std::string svg = MemoryMapSvg(map);
  EXPECT_NE(svg.find("<a href=\"#sound-1\"><g class=\"block sound pcm16\""), std::string::npos);
  EXPECT_NE(svg.find(Format("<title>sound #3 ULAW 0x%06X..0x%06X, 4 bytes</title>", base + 12,
                            base + 15)),
            std::string::npos)
      << svg;
}

}  // namespace
