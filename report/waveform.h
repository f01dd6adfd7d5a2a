#pragma once
// The picture of a sound: one vertical stroke per pixel column from the lowest to the highest
// sample that falls in it, so that a sound of a million samples is drawn with as many points as
// the picture is wide and still shows every peak.

#include <cstdint>
#include <string>
#include <vector>

struct ColumnRange {
  int32_t low = 0;
  int32_t high = 0;
};

// At most columns ranges; fewer when the sound has fewer samples than columns.
std::vector<ColumnRange> DecimateMinMax(const std::vector<int32_t>& samples, int columns);

// An inline SVG of width x height with the ranges on the 16-bit scale, titled for readers
// that cannot see it.
std::string WaveformSvg(const std::vector<ColumnRange>& columns, int width, int height,
                        const std::string& title);
