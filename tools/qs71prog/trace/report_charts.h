#pragma once
// The shift report's pictures, drawn here as SVG so that the page needs nothing beside it and
// prints as it shows. Two kinds serve every figure: columns over time (stacked, with a percent
// line on a scale of its own) and one bar per row (with an optional percent line, which makes
// a sorted list a Pareto chart). Every mark carries its number in data-value and in its title.

#include <string>
#include <vector>

namespace qs71prog {

struct ChartSeries {
  std::string name;            // in the marks' titles
  std::string style;           // the marks' class, which the page's style colours
  std::vector<double> values;  // one per label
};

struct ColumnChart {
  std::string id;
  std::string title;
  std::vector<std::string> labels;
  std::vector<ChartSeries> stacks;  // from the bottom up
  std::string percentName;
  std::vector<double> percent;  // one per label, 0 to 100; negative for no point
};

struct BarChart {
  std::string id;
  std::string title;
  std::string style;
  std::vector<std::string> labels;
  std::vector<double> values;
  std::vector<std::string> notes;  // written after each bar
  double full = 0.0;               // what a whole bar stands for; 0: the largest value
  std::string percentName;
  std::vector<double> percent;  // one per label, 0 to 100, or empty for no line
};

std::string ColumnChartSvg(const ColumnChart& chart);
std::string BarChartSvg(const BarChart& chart);

}  // namespace qs71prog
