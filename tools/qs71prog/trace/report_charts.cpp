#include "trace/report_charts.h"

#include <algorithm>

#include "html_text.h"
#include "text_format.h"

namespace qs71prog {

namespace {

// Columns: the plot between the axes' labels, the time below it.
constexpr double kWidth = 800.0;
constexpr double kLeft = 50.0;
constexpr double kRight = 750.0;
constexpr double kTop = 16.0;
constexpr double kBottom = 200.0;
constexpr double kColumnsHeight = 230.0;
constexpr size_t kMostTimeLabels = 24;
// Bars: the name, the bar, its note.
constexpr double kNameEnd = 232.0;
constexpr double kBarStart = 240.0;
constexpr double kBarWidth = 380.0;
constexpr double kRowPitch = 22.0;
constexpr double kBarHeight = 14.0;
constexpr size_t kLongestName = 36;

std::string Number(double value) { return Format("%.1f", value); }

// A name cut to fit beside its bar, never inside a UTF-8 sequence; the full name stays in the
// row's title.
std::string Shortened(const std::string& name) {
  if (name.size() <= kLongestName) return name;
  size_t cut = kLongestName - 1;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut) + "\xE2\x80\xA6";
}

std::string SvgStart(const std::string& id, const std::string& title, double height) {
  return Format(
      "<svg id=\"%s\" class=\"chart\" role=\"img\" aria-labelledby=\"%s-title\" "
      "viewBox=\"0 0 %.0f %.0f\"><title id=\"%s-title\">%s</title>",
      id.c_str(), id.c_str(), kWidth, height, id.c_str(), HtmlEscape(title).c_str());
}

std::string Mark(const std::string& style, double x, double y, double width, double height,
                 double value, const std::string& title) {
  return Format(
      "<rect class=\"%s\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" "
      "data-value=\"%s\"><title>%s</title></rect>",
      style.c_str(), x, y, width, height, Number(value).c_str(), HtmlEscape(title).c_str());
}

std::string Text(double x, double y, const char* anchor, const std::string& text) {
  return Format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"%s\">%s</text>", x, y, anchor,
                HtmlEscape(text).c_str());
}

// Where a chart puts a point of its percent line: from the percent, the point's place and
// the count of points.
using Place = double (*)(double percent, size_t index, size_t count);

// The percent line through the points that have one; a point without one breaks it.
std::string PercentLine(const std::string& name, const std::vector<double>& percent, Place x,
                        Place y) {
  std::string path;
  std::string dots;
  bool drawing = false;
  for (size_t index = 0; index < percent.size(); ++index) {
    if (percent[index] < 0.0) {
      drawing = false;
      continue;
    }
    const double px = x(percent[index], index, percent.size());
    const double py = y(percent[index], index, percent.size());
    path += Format("%c%.1f %.1f", drawing ? 'L' : 'M', px, py);
    dots += Format(
        "<circle class=\"point\" cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\" data-value=\"%s\">"
        "<title>%s %s%%</title></circle>",
        px, py, Number(percent[index]).c_str(), HtmlEscape(name).c_str(),
        Number(percent[index]).c_str());
    drawing = true;
  }
  return path.empty() ? "" : "<path class=\"line\" d=\"" + path + "\"/>" + dots;
}

double ColumnPitch(size_t count) {
  return (kRight - kLeft) / static_cast<double>(std::max<size_t>(count, 1));
}

double ColumnCentre(double, size_t index, size_t count) {
  return kLeft + (static_cast<double>(index) + 0.5) * ColumnPitch(count);
}

double PercentHeight(double percent, size_t, size_t) {
  return kBottom - percent / 100.0 * (kBottom - kTop);
}

double StackTop(const ColumnChart& chart) {
  double top = 0.0;
  for (size_t index = 0; index < chart.labels.size(); ++index) {
    double sum = 0.0;
    for (const ChartSeries& series : chart.stacks) sum += series.values[index];
    top = std::max(top, sum);
  }
  return std::max(top, 1.0);
}

std::string ColumnAxes(const ColumnChart& chart, double top) {
  std::string axes = Format("<path class=\"axis\" d=\"M%.0f %.0fV%.0fH%.0fV%.0f\"/>", kLeft, kTop,
                            kBottom, kRight, kTop);
  axes +=
      Text(kLeft - 4, kTop + 4, "end", Format("%.0f", top)) + Text(kLeft - 4, kBottom, "end", "0");
  if (!chart.percent.empty()) {
    axes += Text(kRight + 4, kTop + 4, "start", "100%") + Text(kRight + 4, kBottom, "start", "0%");
  }
  const size_t step = (chart.labels.size() + kMostTimeLabels - 1) / kMostTimeLabels;
  for (size_t index = 0; index < chart.labels.size(); index += std::max<size_t>(step, 1)) {
    axes += Text(ColumnCentre(0, index, chart.labels.size()), kBottom + 14, "middle",
                 chart.labels[index]);
  }
  return axes;
}

std::string Column(const ColumnChart& chart, size_t index, double top) {
  const double pitch = ColumnPitch(chart.labels.size());
  const double x = kLeft + static_cast<double>(index) * pitch + pitch * 0.1;
  double base = kBottom;
  std::string marks;
  for (const ChartSeries& series : chart.stacks) {
    const double value = series.values[index];
    const double height = value / top * (kBottom - kTop);
    base -= height;
    marks += Mark(series.style, x, base, pitch * 0.8, height, value,
                  chart.labels[index] + " " + series.name + " " + Format("%.0f", value));
  }
  return "<g class=\"column\">" + marks + "</g>";
}

double BarEnd(double percent, size_t, size_t) { return kBarStart + percent / 100.0 * kBarWidth; }

double RowMiddle(double, size_t index, size_t) {
  return kTop + 8 + static_cast<double>(index) * kRowPitch + kRowPitch / 2;
}

std::string BarRow(const BarChart& chart, size_t index, double full) {
  const double top = RowMiddle(0, index, 0) - kBarHeight / 2;
  const double value = std::max(chart.values[index], 0.0);
  const std::string& note = index < chart.notes.size() ? chart.notes[index] : "";
  return "<g class=\"row\">" + Text(kNameEnd, top + 11, "end", Shortened(chart.labels[index])) +
         Mark(chart.style, kBarStart, top, value / full * kBarWidth, kBarHeight,
              chart.values[index], chart.labels[index] + ": " + note) +
         Text(kBarStart + kBarWidth + 8, top + 11, "start", note) + "</g>";
}

}  // namespace

std::string ColumnChartSvg(const ColumnChart& chart) {
  const double top = StackTop(chart);
  std::string svg = SvgStart(chart.id, chart.title, kColumnsHeight) + ColumnAxes(chart, top);
  for (size_t index = 0; index < chart.labels.size(); ++index) svg += Column(chart, index, top);
  svg += PercentLine(chart.percentName, chart.percent, ColumnCentre, PercentHeight);
  return svg + "</svg>";
}

std::string BarChartSvg(const BarChart& chart) {
  double full = chart.full;
  for (double value : chart.values) full = chart.full > 0.0 ? full : std::max(full, value);
  full = std::max(full, 1e-9);
  const double height = kTop + 16 + static_cast<double>(chart.labels.size()) * kRowPitch;
  std::string svg = SvgStart(chart.id, chart.title, height);
  if (!chart.percent.empty()) {
    svg += Text(kBarStart, kTop, "start", "0%") +
           Text(kBarStart + kBarWidth, kTop, "end", "100% " + chart.percentName);
  }
  for (size_t index = 0; index < chart.labels.size(); ++index) svg += BarRow(chart, index, full);
  svg += PercentLine(chart.percentName, chart.percent, BarEnd, RowMiddle);
  return svg + "</svg>";
}

}  // namespace qs71prog
