// The shift's figures from hand-built traces with known answers, and the page and text that
// show them: every number where the reader looks for it, nothing loaded from outside.

#include "trace/shift_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "file_contents.h"
#include "test_scratch.h"
#include "text_format.h"

namespace qs71prog {
namespace {

TracePart Part(const std::string& run, const std::string& programmer, const std::string& result,
               const std::string& end, int number = 1, const std::string& status = "",
               std::vector<std::string> blocks = {}) {
  TracePart part;
  part.job = "job1";
  part.number = number;
  part.run = run;
  part.programmer = programmer;
  part.result = result;
  part.status = status;
  part.blocks = std::move(blocks);
  part.startedAt = end.empty() ? "2026-12-07T21:59:00.000Z" : end;
  part.endedAt = end;
  return part;
}

TraceEvent Event(const std::string& run, const std::string& key, const std::string& kind,
                 const std::string& time) {
  TraceEvent event;
  event.row.run = run;
  event.row.programmerKey = key;
  event.row.event = kind;
  event.row.time = time;
  return event;
}

TraceRun RunOf(const std::string& id, const std::string& operatorName, const std::string& end) {
  TraceRun run;
  run.id = id;
  run.operatorName = operatorName;
  run.endedAt = end;
  return run;
}

// Two runs over three hours with a break; the open part counts in the hour it started.
TEST(ShiftFigures, TalliesByHourProgrammerAndOperator) {
  TraceContents trace;
  trace.runs = {RunOf("r1", "ann", ""), RunOf("r2", "", "")};
  trace.parts = {Part("r1", "P1", "pass", "2026-12-07T19:10:00.000Z"),
                 Part("r1", "P1", "pass", "2026-12-07T19:20:00.000Z"),
                 Part("r1", "P2", "fail", "2026-12-07T19:59:59.999Z"),
                 Part("r2", "P1", "unverified", "2026-12-07T21:00:00.000Z"),
                 Part("r2", "P2", "aborted", "2026-12-07T21:30:00.000Z"),
                 Part("r2", "P2", "pass", "2026-12-07T21:31:00.000Z"),
                 Part("r2", "P2", "", "")};
  trace.events = {Event("r2", "P1", "already", "2026-12-07T21:40:00.000Z")};
  const ShiftFigures figures = Figures(trace);
  const struct {
    const std::vector<TallyRow>& rows;
    std::vector<std::string> expected;  // key: all pass fail unverified already aborted open yield
  } cases[] = {
      {figures.hours,
       {"2026-12-07T19: 3 2 1 0 0 0 0 66.7%", "2026-12-07T20: 0 0 0 0 0 0 0 -",
        "2026-12-07T21: 5 1 0 1 1 1 1 50.0%"}},
      {figures.programmers, {"P1: 4 2 0 1 1 0 0 66.7%", "P2: 4 1 1 0 0 1 1 50.0%"}},
      {figures.operators, {"(none): 5 1 0 1 1 1 1 50.0%", "ann: 3 2 1 0 0 0 0 66.7%"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> rows;
    for (const TallyRow& row : c.rows) {
      const Tally& t = row.parts;
      rows.push_back(row.key + ": " + std::to_string(t.All()) + " " + std::to_string(t.pass) + " " +
                     std::to_string(t.fail) + " " + std::to_string(t.unverified) + " " +
                     std::to_string(t.already) + " " + std::to_string(t.aborted) + " " +
                     std::to_string(t.open) + " " + YieldText(t));
    }
    EXPECT_EQ(rows, c.expected);
  }
  EXPECT_EQ(YieldText(figures.all), "60.0%");
  EXPECT_EQ(figures.first, "2026-12-07T19:10:00.000Z");
  EXPECT_EQ(figures.last, "2026-12-07T21:40:00.000Z");
}

// From "lost" to the next "back" of that programmer in that run; else to the run's end, or
// to its last event when it has none.
TEST(ShiftFigures, LostTimeRunsToTheReturnOrTheRunsEnd) {
  const auto at = [](const char* clock) { return std::string("2026-12-07T") + clock + "Z"; };
  const auto lost = [&](const char* run, const char* clock) {
    return Event(run, "P1", "lost", at(clock));
  };
  const auto back = [&](const char* run, const char* clock) {
    return Event(run, "P1", "back", at(clock));
  };
  const struct {
    const char* name;
    const char* runEnd;    // of r1
    const char* expected;  // losses, never back, seconds
    std::vector<TraceEvent> events;
  } cases[] = {
      {"back", "", "1 0 30.500", {lost("r1", "10:00:00"), back("r1", "10:00:30.500")}},
      {"twice, a second lost changes nothing",
       "",
       "2 0 30.000",
       {lost("r1", "10:00:00"), lost("r1", "10:00:05"), back("r1", "10:00:10"),
        lost("r1", "10:01:00"), back("r1", "10:01:20")}},
      {"never back, run ended", "10:05:00.000", "1 1 300.000", {lost("r1", "10:00:00")}},
      {"never back, run cut short",
       "",
       "1 1 120.000",
       {lost("r1", "10:00:00"), Event("r1", "P2", "started", at("10:02:00"))}},
      {"another run's back is not its own",
       "10:01:00",
       "1 1 60.000",
       {lost("r1", "10:00:00"), back("r2", "10:00:01")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TraceContents trace;
    trace.runs = {RunOf("r1", "", *c.runEnd ? at(c.runEnd) : ""), RunOf("r2", "", "")};
    trace.events = c.events;
    const ShiftFigures figures = Figures(trace);
    ASSERT_EQ(figures.lost.size(), 1u);
    const LostRow& row = figures.lost[0];
    EXPECT_EQ(row.programmer, "P1");
    EXPECT_EQ(Format("%d %d %.3f", row.losses, row.neverBack, row.seconds), c.expected);
  }
}

// Most frequent first, equal counts by name; the text aligns the numbers to the right.
TEST(ShiftFigures, ParetoOfCausesAndBlocksAndTheLot) {
  const std::string end = "2026-12-07T19:00:00Z";
  TraceContents trace;
  trace.jobs = {TraceJob{"job1", "demo", "", "", "", "", 10},
                TraceJob{"job2", "", "", "", "", "", 0}};
  trace.lots = {LotState{10, 5, 2, 1, "", false}, LotState{}};
  trace.parts = {Part("r1", "P1", "fail", end, 1, "verify-mismatch",
                      {"0x000100-0x0001FF", "0x000200-0x0002FF"}),
                 Part("r1", "P1", "fail", end, 2, "write-failed", {"0x000100-0x0001FF"}),
                 Part("r1", "P1", "fail", end, 3, "verify-mismatch"),
                 Part("r1", "P1", "fail", end, 4, "blank-check"),
                 Part("r1", "P1", "fail", end, 5, "verify-mismatch"),
                 Part("r1", "P1", "untouched", end, 0)};
  for (TracePart& part : trace.parts) part.step = part.number == 4 ? "blank-check" : "verify";
  const ShiftFigures figures = Figures(trace);
  const std::string text = ReportText(figures);
  EXPECT_NE(text.find("Failures by step\n"
                      "step         parts  cumulative\n"
                      "verify           4       80.0%\n"
                      "blank-check      1      100.0%\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Failures by cause\n"
                      "cause            parts  cumulative\n"
                      "verify-mismatch      3       60.0%\n"
                      "blank-check          1       80.0%\n"
                      "write-failed         1      100.0%\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("0x000100-0x0001FF      2       66.7%\n"
                      "0x000200-0x0002FF      1      100.0%\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("job   name  good  scrap  under way  lot  to go\n"
                      "job1  demo     5      2          1   10      5\n"
                      "job2           0      0          0    -      -\n"),
            std::string::npos)
      << text;
}

// The page of a trace with names that are markup, and of an empty trace: nothing loaded,
// every SVG closed, each number in its data-figure.
TEST(ShiftReport, PagesLoadNothingAndCarryTheirNumbers) {
  TraceContents named;
  named.runs = {RunOf("r1", "<script>", "")};
  named.parts = {
      Part("r1", "<b>", "pass", "2026-12-07T19:00:00Z"),
      Part("r1", "<b>", "fail", "2026-12-07T19:00:01Z", 2, "<img src=\"http://x/a.png\">", {"b"})};
  named.events = {Event("r1", "<b>", "lost", "2026-12-07T19:00:00Z")};
  for (const TraceContents& trace : {TraceContents{}, named}) {
    const std::string page = ReportHtml(Figures(trace), {"t.db", {{"trace", "t.db"}}});
    for (const char* load :
         {"<img", "<script", "<link", "<iframe", "src=\"", "href=\"", "url(", "@import"})
      EXPECT_EQ(page.find(load), std::string::npos) << load;
    size_t opened = 0, closed = 0;
    for (size_t at = page.find("<svg"); at != std::string::npos; at = page.find("<svg", at + 1))
      ++opened;
    for (size_t at = page.find("</svg>"); at != std::string::npos; at = page.find("</svg>", at + 1))
      ++closed;
    EXPECT_EQ(opened, closed);
    EXPECT_EQ(opened, trace.parts.empty() ? 0u : 7u);
  }
  const std::string page = ReportHtml(Figures(named));
  EXPECT_NE(page.find("<tr data-key=\"&lt;b&gt;\"><th scope=\"row\">&lt;b&gt;</th>"
                      "<td class=\"n\" data-figure=\"parts\">2</td>"
                      "<td class=\"n\" data-figure=\"pass\">1</td>"
                      "<td class=\"n\" data-figure=\"fail\">1</td>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("data-figure=\"yield\">50.0%</td>"), std::string::npos);
  EXPECT_NE(page.find("&lt;img src=&quot;http://x/a.png&quot;&gt;"), std::string::npos);
}

// A part without a number is in its event alone, and the text shows what a station's names
// hold without letting a terminal act on it.
TEST(ShiftReport, CountsPartsWithoutNumbersAndEscapesTheText) {
  TraceContents trace;
  trace.runs = {RunOf("r1", "\x1b[2J\x1b]0;owned\x07mallory", "")};
  trace.parts = {Part("r1", "P1", "pass", "2026-12-07T19:00:00Z")};
  for (const char* kind : {"part", "already", "started"}) {
    TraceEvent event = Event("r1", "P1", kind, "2026-12-07T19:01:00Z");
    event.row.result = kind == std::string("part") ? "untouched" : "";
    event.row.operatorName = trace.runs[0].operatorName;
    trace.events.push_back(event);
  }
  const ShiftFigures figures = Figures(trace);
  EXPECT_EQ(figures.all.All(), 3);
  EXPECT_EQ(figures.all.untouched, 1);
  EXPECT_EQ(figures.all.already, 1);
  const std::string text = ReportText(figures, {"t.db", {{"trace", "t\x1b.db"}}});
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  EXPECT_EQ(text.find('\x07'), std::string::npos);
  EXPECT_NE(text.find("\\x1B[2J\\x1B]0;owned\\x07mallory  "), std::string::npos) << text;
  EXPECT_NE(text.find("trace: t\\x1B.db\n"), std::string::npos) << text;
}

// A table's columns line up on a terminal whatever bytes its names take: "Jérôme" is six
// columns, as "annabe" is, and its figures end in the same column.
TEST(ShiftReport, TextColumnsAreCountedInCharacters) {
  TraceContents trace;
  trace.runs = {RunOf("r1", "J\xC3\xA9r\xC3\xB4me", ""), RunOf("r2", "annabe", "")};
  trace.parts = {Part("r1", "P1", "pass", "2026-12-07T19:10:00.000Z"),
                 Part("r2", "P1", "pass", "2026-12-07T19:20:00.000Z")};
  const std::string text = ReportText(Figures(trace), {"t.db", {}});
  std::vector<int> widths;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("J\xC3\xA9r\xC3\xB4me  ", 0) == 0 || line.rfind("annabe  ", 0) == 0) {
      widths.push_back(VisibleColumns(line));
    }
  }
  ASSERT_EQ(widths.size(), 2u) << text;
  EXPECT_EQ(widths[0], widths[1]) << text;
}

class StringSink : public TextSink {
 public:
  void Out(const std::string& text) override { out += text; }
  void Err(const std::string& text) override { out += text; }
  std::string out;
};

TEST(ShiftReport, WritesTextToOutAndThePageAsAFile) {
  const std::filesystem::path dir = CleanScratchFolder(QS71_TEST_TMPDIR, "shift_report");
  TraceContents trace;
  trace.parts = {Part("r1", "P1", "pass", "2026-12-07T19:00:00Z")};
  StringSink out;
  std::string problem;
  ASSERT_TRUE(WriteShiftReport(trace, "-", {}, out, problem)) << problem;
  EXPECT_EQ(out.out, ReportText(Figures(trace)));
  ASSERT_TRUE(WriteShiftReport(trace, (dir / "shift.html").string(), {}, out, problem)) << problem;
  EXPECT_EQ(ReadFileText(dir / "shift.html"), ReportHtml(Figures(trace)));
  const std::string missing = (dir / "missing" / "shift.html").string();
  EXPECT_FALSE(WriteShiftReport(trace, missing, {}, out, problem));
  EXPECT_EQ(problem.rfind("cannot write the report " + missing + ": ", 0), 0u) << problem;
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST(ShiftFigures, ReadsTheTracesTimesOnly) {
  const std::pair<const char*, double> kTimes[] = {
      {"1970-01-01T00:00:00Z", 0.0}, {"2026-12-07T19:40:00.123Z", 1796672400.123},
      {"2026-02-30T00:00:00Z", -1},  {"2026-12-07 19:40:00Z", -1},
      {"2026-12-07T19:40:00.Z", -1}, {"2026-12-07T19:40", -1}};
  for (const auto& [text, expected] : kTimes) {
    double seconds = -1.0;
    EXPECT_EQ(ParseUtc(text, seconds), expected >= 0) << text;
    EXPECT_NEAR(seconds, expected, 1e-3) << text;  // untouched when refused
  }
}

}  // namespace
}  // namespace qs71prog
