#include "waveform.h"

#include <algorithm>

#include "page_text.h"
#include "text_format.h"

std::vector<ColumnRange> DecimateMinMax(const std::vector<int32_t>& samples, int columns) {
  std::vector<ColumnRange> out;
  if (samples.empty() || columns <= 0) return out;
  const size_t n = samples.size();
  const size_t count = std::min(n, static_cast<size_t>(columns));
  out.reserve(count);
  for (size_t c = 0; c < count; ++c) {
    const size_t from = c * n / count;
    const size_t to = (c + 1) * n / count;
    const auto [low, high] = std::minmax_element(samples.begin() + from, samples.begin() + to);
    out.push_back({*low, *high});
  }
  return out;
}

namespace {

// 16-bit sample value to a pixel row, the top of the picture being +32767.
int Row(int32_t v, int height) {
  const int64_t clamped = std::clamp(v, -32768, 32767);
  return static_cast<int>((32767 - clamped) * (height - 1) / 65535);
}

}  // namespace

std::string WaveformSvg(const std::vector<ColumnRange>& columns, int width, int height,
                        const std::string& title) {
  // Whole pixels, a stroke through the middle of each column: a full part has 200 pictures,
  // and the page is written in well under a second.
  std::string path;
  path.reserve(columns.size() * 16);
  const size_t count = std::max<size_t>(columns.size(), 1);
  for (size_t c = 0; c < columns.size(); ++c) {
    const int top = Row(columns[c].high, height);
    const int bottom = Row(columns[c].low, height) + 1;  // a flat column still shows a pixel
    // Appended piece by piece: "M" + std::to_string(...) trips GCC 12's -Wrestrict at -O3.
    path += 'M';
    path += std::to_string(c * width / count);
    path += ".5 ";
    path += std::to_string(top);
    path += 'V';
    path += std::to_string(bottom);
  }
  const int axis = Row(0, height);
  return Format("<svg class=\"wave\" role=\"img\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\">"
                "<title>%s</title><line class=\"axis\" x1=\"0\" y1=\"%d.5\" x2=\"%d\" "
                "y2=\"%d.5\"/><path d=\"%s\"/></svg>",
                width, height, width, height, HtmlEscape(title).c_str(), axis, width, axis,
                path.c_str());
}
