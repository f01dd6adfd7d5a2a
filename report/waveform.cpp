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

// 16-bit sample value to a y coordinate, the top of the picture being +32767.
double Y(int32_t v, int height) {
  const double clamped = std::clamp(v, -32768, 32767);
  return (32767.0 - clamped) * (height - 1) / 65535.0;
}

}  // namespace

std::string WaveformSvg(const std::vector<ColumnRange>& columns, int width, int height,
                        const std::string& title) {
  std::string path;
  const double step = columns.empty() ? 1.0 : static_cast<double>(width) / columns.size();
  for (size_t c = 0; c < columns.size(); ++c) {
    const double x = (c + 0.5) * step;
    // A column whose samples are all one value still gets a stroke of a pixel.
    const double top = Y(columns[c].high, height) - 0.5;
    const double bottom = Y(columns[c].low, height) + 0.5;
    path += Format("M%.1f %.1fV%.1f", x, top, bottom);
  }
  return Format("<svg class=\"wave\" role=\"img\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\">"
                "<title>%s</title><line class=\"axis\" x1=\"0\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\"/>"
                "<path d=\"%s\"/></svg>",
                width, height, width, height, HtmlEscape(title).c_str(), Y(0, height), width,
                Y(0, height), path.c_str());
}
