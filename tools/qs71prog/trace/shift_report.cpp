#include "trace/shift_report.h"

#include <algorithm>

#include "output_writer.h"
#include "html_text.h"
#include "text_format.h"
#include "trace/report_charts.h"

namespace qs71prog {

namespace {

// One table of figures, which the text and the page both write: the text aligns it, the page
// puts it beside its chart with each cell's figure in data-figure and each row's key in
// data-key.
struct FigureRow {
  std::string key;                 // the whole key: a job's full hash
  std::vector<std::string> cells;  // the first one names the row as shown
};
struct FigureTable {
  std::string id;
  std::string heading;
  std::vector<std::string> heads;
  std::vector<std::string> figures;  // one per column after the first
  std::vector<FigureRow> rows;
  size_t words = 1;  // the columns of words, from the first: the rest are numbers
};

// The columns of every table of tallies, in this order.
struct TallyColumn {
  const char* figure;
  int Tally::*count;
};
constexpr TallyColumn kTallyColumns[] = {
    {"pass", &Tally::pass},       {"fail", &Tally::fail},       {"unverified", &Tally::unverified},
    {"already", &Tally::already}, {"aborted", &Tally::aborted}, {"untouched", &Tally::untouched},
    {"open", &Tally::open}};

// A Pareto chart shows the most frequent; its table lists them all.
constexpr size_t kChartRows = 30;
// A job's hash, shortened as the screen shows it; the row's key keeps the whole.
constexpr size_t kShownHash = 12;

std::string Percent(double percent) { return Format("%.1f%%", percent); }

std::string Duration(double seconds) {
  const long long whole = static_cast<long long>(seconds + 0.5);
  return Format("%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
}

FigureTable TallyTable(const char* id, const char* heading, const char* keyHead,
                       const std::vector<TallyRow>& tallies) {
  FigureTable table{id, heading, {keyHead, "parts"}, {"parts"}, {}};
  for (const TallyColumn& column : kTallyColumns) {
    table.heads.push_back(column.figure);
    table.figures.push_back(column.figure);
  }
  table.heads.push_back("yield");
  table.figures.push_back("yield");
  for (const TallyRow& tally : tallies) {
    FigureRow row{tally.key, {tally.key, std::to_string(tally.parts.All())}};
    for (const TallyColumn& column : kTallyColumns)
      row.cells.push_back(std::to_string(tally.parts.*column.count));
    row.cells.push_back(YieldText(tally.parts));
    table.rows.push_back(row);
  }
  return table;
}

FigureTable ParetoTable(const char* id, const char* heading, const char* keyHead,
                        const std::vector<ParetoRow>& entries) {
  FigureTable table{id, heading, {keyHead, "parts", "cumulative"}, {"count", "cumulative"}, {}};
  for (const ParetoRow& entry : entries) {
    table.rows.push_back(
        {entry.name, {entry.name, std::to_string(entry.count), Percent(entry.cumulative)}});
  }
  return table;
}

FigureTable LostTable(const std::vector<LostRow>& lost) {
  FigureTable table{"lost",
                    "Time lost per programmer",
                    {"programmer", "losses", "never back", "time lost", "seconds"},
                    {"losses", "never-back", "time", "seconds"},
                    {}};
  for (const LostRow& row : lost) {
    table.rows.push_back(
        {row.programmer,
         {row.programmer, std::to_string(row.losses), std::to_string(row.neverBack),
          Duration(row.seconds), Format("%.1f", row.seconds)}});
  }
  return table;
}

// A lot is of good parts: scrap is counted apart, and the parts under way (or cut short by
// a crash) may still become good ones.
FigureTable LotTable(const std::vector<LotRow>& lots) {
  FigureTable table{"lots",
                    "Lot progress per job (good parts, over all the job's runs)",
                    {"job", "name", "good", "scrap", "under way", "lot", "to go"},
                    {"name", "good", "scrap", "open", "lot", "to-go"},
                    {},
                    2};
  for (const LotRow& lot : lots) {
    const LotState& state = lot.state;
    const bool limited = state.Limited();
    table.rows.push_back(
        {lot.job,
         {lot.job.substr(0, kShownHash), lot.name, std::to_string(state.good),
          std::to_string(state.scrap), std::to_string(state.open),
          limited ? std::to_string(state.lot) : "-",
          limited ? std::to_string(state.ToGo()) : "-"}});
  }
  return table;
}

FigureTable SummaryTable(const ShiftFigures& figures) {
  FigureTable table = TallyTable("summary", "The shift", "", {{"all", figures.all}});
  table.heads.insert(table.heads.end(), {"runs", "first", "last"});
  table.figures.insert(table.figures.end(), {"runs", "first", "last"});
  std::vector<std::string>& cells = table.rows.front().cells;
  cells.insert(cells.end(), {std::to_string(figures.runs), figures.first, figures.last});
  return table;
}

// Text: the first column to the left, the numbers to the right, two spaces between.
std::string TextTable(const FigureTable& table) {
  std::vector<size_t> widths(table.heads.size(), 0);
  // Names come from the command lines of the stations: a terminal must not run them.
  std::vector<std::vector<std::string>> shown;
  for (const FigureRow& row : table.rows) {
    shown.emplace_back();
    for (const std::string& cell : row.cells) shown.back().push_back(VisibleText(cell));
  }
  const auto widen = [&widths](const std::vector<std::string>& cells) {
    for (size_t index = 0; index < cells.size() && index < widths.size(); ++index)
      widths[index] = std::max(widths[index], static_cast<size_t>(VisibleColumns(cells[index])));
  };
  widen(table.heads);
  for (const std::vector<std::string>& cells : shown) widen(cells);
  const auto line = [&widths, &table](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t index = 0; index < cells.size(); ++index) {
      // Padded by columns, not bytes: "—" and a name's accents take one each.
      const std::string pad(widths[index] - static_cast<size_t>(VisibleColumns(cells[index])), ' ');
      text += (index == 0 ? "" : "  ") + (index < table.words ? cells[index] + pad : pad + cells[index]);
    }
    text.erase(text.find_last_not_of(' ') + 1);
    return text + "\n";
  };
  std::string text = table.heading + "\n" + line(table.heads);
  for (const std::vector<std::string>& cells : shown) text += line(cells);
  return table.rows.empty() ? table.heading + "\nnone\n" : text;
}

// System fonts, colours of at least 4.5:1 on white (as the image page), figures that keep
// their colours and stay whole on paper.
constexpr char kStyle[] = R"(<style>
:root{font-family:system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif;color:#1a1a1a;background:#fff}
body{margin:1.5rem;max-width:90rem}
h1{font-size:1.5rem}h2{font-size:1.2rem;margin-top:2rem;border-bottom:1px solid #767676}
table{border-collapse:collapse;font-size:.875rem}
th,td{border:1px solid #a0a0a0;padding:.2rem .4rem;text-align:left;white-space:nowrap}
td.n{text-align:right;font-variant-numeric:tabular-nums}
.figure{display:flex;flex-wrap:wrap;gap:1.5rem;align-items:flex-start}
svg.chart{width:42rem;max-width:100%;height:auto;font-size:11px}
svg.chart text{fill:#1a1a1a}svg.chart .axis{fill:none;stroke:#767676}
.pass{fill:#2e7d32}.fail{fill:#b3261e}.unverified{fill:#b26a00}.other{fill:#767676}
.bar{fill:#1f6fb2}.lost{fill:#8a3d6e}
svg.chart .line{fill:none;stroke:#1a1a1a;stroke-width:1.5}svg.chart .point{fill:#1a1a1a}
@media print{body{margin:0;max-width:none}section{break-inside:avoid}
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}tr{break-inside:avoid}}
</style>)";

std::string HtmlTable(const FigureTable& table) {
  std::string html = "<table id=\"" + table.id + "-table\"><tr>";
  for (const std::string& head : table.heads)
    html += "<th scope=\"col\">" + HtmlEscape(head) + "</th>";
  html += "</tr>";
  for (const FigureRow& row : table.rows) {
    html += "<tr data-key=\"" + HtmlEscape(row.key) + "\"><th scope=\"row\">" +
            HtmlEscape(row.cells.front()) + "</th>";
    for (size_t index = 1; index < row.cells.size(); ++index) {
      html += std::string(index < table.words ? "<td" : "<td class=\"n\"") + " data-figure=\"" +
              table.figures[index - 1] + "\">" + HtmlEscape(row.cells[index]) + "</td>";
    }
    html += "</tr>";
  }
  return html + "</table>";
}

ColumnChart HoursChart(const std::vector<TallyRow>& hours) {
  ColumnChart chart;
  chart.id = "hours-chart";
  chart.title = "Parts per hour, stacked by verdict, and the yield";
  chart.stacks = {{"pass", "pass", {}},
                  {"fail", "fail", {}},
                  {"unverified", "unverified", {}},
                  {"other", "other", {}}};
  chart.percentName = "yield";
  std::string day;
  for (const TallyRow& hour : hours) {
    // "19h", with the date where the day changes: the table beside has the whole date.
    const bool newDay = hour.key.size() == 13 && hour.key.substr(0, 10) != day;
    if (hour.key.size() == 13) day = hour.key.substr(0, 10);
    chart.labels.push_back(hour.key.size() != 13 ? hour.key
                           : newDay ? hour.key.substr(5, 5) + " " + hour.key.substr(11, 2) + "h"
                                    : hour.key.substr(11, 2) + "h");
    const Tally& parts = hour.parts;
    const double values[] = {static_cast<double>(parts.pass), static_cast<double>(parts.fail),
                             static_cast<double>(parts.unverified),
                             static_cast<double>(parts.All() - parts.Judged())};
    for (size_t index = 0; index < chart.stacks.size(); ++index)
      chart.stacks[index].values.push_back(values[index]);
    chart.percent.push_back(YieldPercent(parts));
  }
  return chart;
}

BarChart Bars(const std::string& id, const std::string& title, const char* style, double full) {
  BarChart chart;
  chart.id = id;
  chart.title = title;
  chart.style = style;
  chart.full = full;
  return chart;
}

BarChart YieldChart(const char* id, const char* who, const std::vector<TallyRow>& rows) {
  BarChart chart = Bars(id, Format("Yield per %s", who), "pass", 100.0);
  for (const TallyRow& row : rows) {
    chart.labels.push_back(row.key);
    chart.values.push_back(YieldPercent(row.parts));
    chart.notes.push_back(YieldText(row.parts) + Format(" of %d", row.parts.Judged()));
  }
  return chart;
}

BarChart ParetoChart(const char* id, const char* what, const std::vector<ParetoRow>& rows) {
  const size_t shown = std::min(rows.size(), kChartRows);
  BarChart chart =
      Bars(id, Format("Failures by %s, most frequent first, with the cumulative share", what),
           "fail", 0.0);
  chart.percentName = "cumulative";
  if (shown < rows.size())
    chart.title += Format(" (the %d most frequent of %d)", static_cast<int>(shown),
                          static_cast<int>(rows.size()));
  for (size_t index = 0; index < shown; ++index) {
    chart.labels.push_back(rows[index].name);
    chart.values.push_back(rows[index].count);
    chart.notes.push_back(
        Format("%d, %s", rows[index].count, Percent(rows[index].cumulative).c_str()));
    chart.percent.push_back(rows[index].cumulative);
  }
  return chart;
}

BarChart LostChart(const std::vector<LostRow>& lost) {
  BarChart chart = Bars("lost-chart", "Time each programmer was lost", "lost", 0.0);
  for (const LostRow& row : lost) {
    chart.labels.push_back(row.programmer);
    chart.values.push_back(row.seconds);
    chart.notes.push_back(Duration(row.seconds) +
                          Format(" in %d loss%s", row.losses, row.losses == 1 ? "" : "es"));
  }
  return chart;
}

BarChart LotChart(const std::vector<LotRow>& lots) {
  BarChart chart = Bars("lots-chart", "Each job's lot: good parts of the lot", "bar", 100.0);
  for (const LotRow& lot : lots) {
    const LotState& state = lot.state;
    chart.labels.push_back(lot.name.empty() ? lot.job.substr(0, kShownHash) : lot.name);
    chart.values.push_back(state.Limited() ? std::min(100.0, 100.0 * state.good / state.lot) : 0.0);
    chart.notes.push_back(state.Limited() ? Format("%d good of %d, %d scrap, %d to go", state.good,
                                                   state.lot, state.scrap, state.ToGo())
                                          : Format("%d good, %d scrap, no lot", state.good,
                                                   state.scrap));
  }
  return chart;
}

// The report's parts in order: each table of figures and the chart drawn beside it on the
// page (none for the summary). The text writes the tables alone.
struct ReportPart {
  FigureTable (*table)(const ShiftFigures&);
  std::string (*chart)(const ShiftFigures&);
};
constexpr ReportPart kParts[] = {
    {SummaryTable, nullptr},
    {[](const ShiftFigures& f) {
       return TallyTable("hours", "Parts per hour (UTC, by each part's end)", "hour", f.hours);
     },
     [](const ShiftFigures& f) { return ColumnChartSvg(HoursChart(f.hours)); }},
    {[](const ShiftFigures& f) {
       return TallyTable("programmers", "Yield per programmer", "programmer", f.programmers);
     },
     [](const ShiftFigures& f) {
       return BarChartSvg(YieldChart("programmers-chart", "programmer", f.programmers));
     }},
    {[](const ShiftFigures& f) {
       return TallyTable("operators", "Yield per operator", "operator", f.operators);
     },
     [](const ShiftFigures& f) {
       return BarChartSvg(YieldChart("operators-chart", "operator", f.operators));
     }},
    {[](const ShiftFigures& f) {
       return ParetoTable("causes", "Failures by cause", "cause", f.causes);
     },
     [](const ShiftFigures& f) {
       return BarChartSvg(ParetoChart("causes-chart", "cause", f.causes));
     }},
    {[](const ShiftFigures& f) {
       return ParetoTable("steps", "Failures by step", "step", f.steps);
     },
     [](const ShiftFigures& f) {
       return BarChartSvg(ParetoChart("steps-chart", "step", f.steps));
     }},
    {[](const ShiftFigures& f) {
       return ParetoTable("blocks", "Failures by block", "block", f.blocks);
     },
     [](const ShiftFigures& f) {
       return BarChartSvg(ParetoChart("blocks-chart", "block", f.blocks));
     }},
    {[](const ShiftFigures& f) { return LostTable(f.lost); },
     [](const ShiftFigures& f) { return BarChartSvg(LostChart(f.lost)); }},
    {[](const ShiftFigures& f) { return LotTable(f.lots); },
     [](const ShiftFigures& f) { return BarChartSvg(LotChart(f.lots)); }},
};

std::string Facts(const ReportInfo& info) {
  if (info.facts.empty()) return "";
  std::string html = "<table id=\"facts\">";
  for (const auto& [name, value] : info.facts)
    html += "<tr><th scope=\"row\">" + HtmlEscape(name) + "</th><td>" + HtmlEscape(value) +
            "</td></tr>";
  return html + "</table>";
}

}  // namespace

std::string ReportText(const ShiftFigures& figures, const ReportInfo& info) {
  std::string text =
      "Shift report" + (info.title.empty() ? "" : ": " + VisibleText(info.title)) + "\n";
  for (const auto& [name, value] : info.facts) text += name + ": " + VisibleText(value) + "\n";
  for (const ReportPart& part : kParts) text += "\n" + TextTable(part.table(figures));
  return text;
}

std::string ReportHtml(const ShiftFigures& figures, const ReportInfo& info) {
  const std::string title =
      HtmlEscape("Shift report" + (info.title.empty() ? "" : " " + info.title));
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      // Nothing may come from outside the page, whatever a name in it says.
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'\">";
  page +=
      "<title>" + title + "</title>" + kStyle + "</head><body><h1>" + title + "</h1>" + Facts(info);
  for (const ReportPart& part : kParts) {
    const FigureTable table = part.table(figures);
    page += "<section id=\"" + table.id + "\"><h2>" + HtmlEscape(table.heading) + "</h2>";
    page += table.rows.empty()
                ? "<p>None.</p>"
                : "<div class=\"figure\">" + (part.chart ? part.chart(figures) : "") +
                      HtmlTable(table) + "</div>";
    page += "</section>";
  }
  return page + "</body></html>\n";
}

bool WriteShiftReport(const TraceContents& contents, const std::string& file,
                      const ReportInfo& info, TextSink& out, std::string& problem) {
  const ShiftFigures figures = Figures(contents);
  if (file == "-") {
    out.Out(ReportText(figures, info));
    return true;
  }
  std::string reason;
  if (WriteOutputText(file, ReportHtml(figures, info), &reason)) return true;
  problem = "cannot write the report " + file + ": " + reason;
  return false;
}

}  // namespace qs71prog
