// The waveform: each pixel column keeps the lowest and the highest sample that falls in it.

#include "waveform.h"

#include <gtest/gtest.h>

namespace {

struct DecimationCase {
  const char* name;
  std::vector<int32_t> samples;
  int columns;
  std::vector<std::pair<int32_t, int32_t>> expected;
};

const DecimationCase kCases[] = {
    {"fewer samples than columns: one column each", {5, -7}, 4, {{5, 5}, {-7, -7}}},
    {"a peak inside a column is kept", {0, 1, 32767, 2, -3, 0}, 2, {{0, 32767}, {-3, 2}}},
    {"uneven split covers every sample", {1, 2, 3, 4, 5}, 2, {{1, 2}, {3, 5}}},
    {"no samples", {}, 8, {}},
    {"no columns", {1, 2}, 0, {}},
};

TEST(Waveform, DecimatesToMinAndMaxPerColumn) {
  for (const DecimationCase& c : kCases) {
    std::vector<std::pair<int32_t, int32_t>> got;
    for (const ColumnRange& r : DecimateMinMax(c.samples, c.columns))
      got.emplace_back(r.low, r.high);
    EXPECT_EQ(got, c.expected) << c.name;
  }
}

TEST(Waveform, ASecondOfSoundIsDrawnWithOneStrokePerColumn) {
  const std::vector<int32_t> samples(16000, 100);
  const std::string svg = WaveformSvg(DecimateMinMax(samples, 320), 320, 48, "Waveform of <a&b>");
  size_t strokes = 0;
  for (size_t at = svg.find('M'); at != std::string::npos; at = svg.find('M', at + 1)) ++strokes;
  EXPECT_EQ(strokes, 320u);
  EXPECT_NE(svg.find("<title>Waveform of &lt;a&amp;b&gt;</title>"), std::string::npos);
}

}  // namespace
