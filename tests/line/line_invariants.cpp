#include "line_invariants.h"

#include <cstdlib>
#include <map>
#include <sstream>

#include "file_contents.h"
#include "system_area.h"

namespace qs71line {
namespace {

namespace fs = std::filesystem;

using Violations = std::vector<std::string>;

std::string Sql(Line& line, const std::string& statement, Violations& violations) {
  std::string rows, problem;
  if (!line.Server().Sql(statement, rows, problem)) violations.push_back("the trace: " + problem);
  return rows;
}

// One row's columns, as the server's psql gives them: "a|b\n".
std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> cells;
  std::stringstream split(row.substr(0, row.find('\n')));
  for (std::string cell; std::getline(split, cell, '|');) cells.push_back(cell);
  return cells;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The parts that went through a socket, wherever they are now: in it or taken out.
std::vector<fs::path> PartFiles(const fs::path& socket) {
  std::vector<fs::path> parts;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(socket, error)) {
    if (entry.is_regular_file() && entry.path().extension() == ".otp") parts.push_back(entry.path());
  }
  return parts;
}

// The part holds the image when its cells are the image's bytes (the file keeps them in address
// order), but for the places of the system area that hold the part's own factory trims.
bool HoldsImage(const fs::path& part, const std::string& image) {
  const std::string cells = ReadFileText(part);
  if (cells.size() != image.size() || image.size() < qs71::kSystemAreaSize) return false;
  const size_t main = image.size() - qs71::kSystemAreaSize;
  if (cells.compare(0, main, image, 0, main) != 0) return false;
  std::vector<uint8_t> own(cells.begin() + main, cells.end()), meant(image.begin() + main, image.end());
  qs71::MaskSystemArea(own);
  qs71::MaskSystemArea(meant);
  return own == meant;
}

void CheckSockets(Line& line, LineCount& count, Violations& violations) {
  const std::string image = ReadFileText(line.Image());
  for (size_t station = 0; station < line.Shape().size(); ++station) {
    for (int k = 1; k <= line.Shape()[station].programmers; ++k) {
      int holding = 0, parts = 0;
      for (const fs::path& part : PartFiles(line.SocketOf(station, k))) {
        ++parts;
        holding += HoldsImage(part, image) ? 1 : 0;
      }
      // good|open: a part that a killed run left under way stays open, and its station says
      // to check it, until a run of the station meets it in the socket again.
      const std::vector<std::string> counted = Cells(Sql(line,
          "SELECT count(*) FILTER (WHERE p.result IN ('pass', 'unverified')), count(*) FILTER "
          "(WHERE p.result IS NULL) FROM parts p JOIN runs r ON r.id = p.run WHERE r.station = '" +
              line.Shape()[station].name + "' AND p.programmer = '" + line.Serial(station, k) + "'",
          violations));
      const int good = counted.size() == 2 ? std::atoi(counted[0].c_str()) : -1;
      const int open = counted.size() == 2 ? std::atoi(counted[1].c_str()) : 0;
      count.parts += parts;
      count.holding += holding;
      count.open += open;
      if (holding < good || holding > good + open) {
        violations.push_back("socket " + line.Serial(station, k) + ": " + std::to_string(holding) +
                             " of its " + std::to_string(parts) +
                             " part files hold the image, the trace has " + std::to_string(good) +
                             " good parts (pass or written, not verified) and " +
                             std::to_string(open) + " under way");
      }
    }
  }
}

void CheckNumbers(Line& line, Violations& violations) {
  const std::string twice = Sql(line,
      "SELECT part, count(*) FROM events WHERE kind = 'started' AND part > 0 GROUP BY part "
      "HAVING count(*) > 1 ORDER BY part", violations);
  if (!twice.empty()) violations.push_back("numbers started more than once (number|times):\n" + twice);
  // The lot is made: its good parts, with those still under way that may be good.
  const std::vector<std::string> lot = Cells(Sql(line,
      "SELECT j.lot, (SELECT count(*) FROM parts p WHERE p.job = j.hash AND p.result IN "
      "('pass', 'unverified')), (SELECT count(*) FROM parts p WHERE p.job = j.hash AND "
      "p.result IS NULL) FROM jobs j", violations));
  const auto figure = [&lot](size_t i) { return i < lot.size() ? std::atoi(lot[i].c_str()) : -1; };
  if (lot.size() != 3 || figure(1) > figure(0) || figure(1) + figure(2) < figure(0)) {
    violations.push_back("the lot, its good parts and those under way: " +
                         (lot.empty() ? std::string("none") : lot[0] + "|" + std::to_string(figure(1)) + "|" + std::to_string(figure(2))));
  }
  // A number handed out is a part's, or free again: given back by its grant.
  const std::string lost = Sql(line,
      "SELECT n FROM jobs j, generate_series(1, j.next_number - 1) AS n WHERE NOT EXISTS "
      "(SELECT 1 FROM parts p WHERE p.job = j.hash AND p.number = n) AND NOT EXISTS (SELECT 1 "
      "FROM spare_numbers s WHERE s.job = j.hash AND s.number = n) ORDER BY n", violations);
  if (!lost.empty()) violations.push_back("numbers neither a part's nor given back:\n" + lost);
  const std::string held = Sql(line,
      "SELECT g.number FROM granted_numbers g JOIN grants r ON r.id = g.grant_id WHERE "
      "r.returned_at IS NULL AND NOT EXISTS (SELECT 1 FROM parts p WHERE p.job = g.job AND "
      "p.number = g.number) ORDER BY g.number", violations);
  if (!held.empty()) violations.push_back("numbers still held by the grant of a run that ended:\n" + held);
}

void CheckHolds(Line& line, Violations& violations) {
  const std::string record = ReadFileText(line.Folder() / "holds.record");
  if (!record.empty()) violations.push_back("calls that reached a part without its hold:\n" + record);
}

// The report's summary row ("all" under the heads of "The shift").
std::map<std::string, std::string> ReportSummary(const std::string& report) {
  std::istringstream in(report);
  std::map<std::string, std::string> figures;
  for (std::string text; std::getline(in, text);) {
    if (text != "The shift") continue;
    std::string heads, cells;
    std::getline(in, heads);
    std::getline(in, cells);
    const std::vector<std::string> names = Words(heads), values = Words(cells);
    for (size_t i = 0; i < names.size() && i + 1 < values.size(); ++i) figures[names[i]] = values[i + 1];
  }
  return figures;
}

void CheckReport(Line& line, LineCount& count, Violations& violations) {
  const testsupport::ProcessResult report = testsupport::RunProcess(
      {QS71PROG_PATH, "--report", "-"}, {.environment = line.EnvironmentOf(0)});
  std::map<std::string, std::string> shown = ReportSummary(report.out);
  const std::vector<std::string> trace = Words(Sql(line,
      "SELECT count(*), count(*) FILTER (WHERE result = 'pass'), count(*) FILTER (WHERE result = "
      "'fail') FROM parts WHERE number > 0", violations));
  if (report.exitCode != 0 || trace.empty()) {
    violations.push_back("the report: exit " + std::to_string(report.exitCode) + ": " + report.err);
    return;
  }
  const std::vector<std::string> own = Cells(trace[0]);
  count.attempts = std::atoi(own[0].c_str());
  count.passes = std::atoi(own[1].c_str());
  // The sockets held the passes against the part files; here the report is held against the
  // rows.
  const std::pair<const char*, std::string> expected[] = {{"pass", own[1]}, {"fail", own[2]}};
  for (const auto& [figure, value] : expected) {
    if (shown[figure] != value) {
      violations.push_back(std::string("the report's ") + figure + " is " + shown[figure] +
                           ", the test counts " + value + ":\n" + report.out);
    }
  }
}

void CheckStations(Line& line, Violations& violations) {
  // A run killed never ends; every other run says how it ended.
  const std::string open = Sql(line, "SELECT count(*) FROM runs WHERE ended_at IS NULL", violations);
  if (std::atoi(open.c_str()) > line.Kills()) {
    violations.push_back("runs without an end: " + open + ", stations killed: " +
                         std::to_string(line.Kills()));
  }
  for (size_t station = 0; station < line.Shape().size(); ++station) {
    const std::string& name = line.Shape()[station].name;
    const testsupport::ProcessResult left = testsupport::RunProcess(
        {"sqlite3", line.SpoolOf(station).string(),
         "SELECT (SELECT count(*) FROM outbox), (SELECT count(*) FROM refused)"});
    if (left.out != "0|0\n") {
      violations.push_back("station " + name + "'s spool (queued|refused): " + left.out + left.err);
    }
    // The exit is the first failure's, when a part failed; the run's end says why it ended.
    const std::string how = Sql(line, "SELECT how FROM runs WHERE station = '" + name +
                                          "' ORDER BY started_at DESC LIMIT 1", violations);
    const int exit = line.Station(station).lastExit;
    if (how != "lot complete\n" || exit > 100) {
      violations.push_back("station " + name + "'s last run ended \"" + how + "\" with exit " +
                           std::to_string(exit) + ", not because the lot was complete");
    }
  }
}

}  // namespace

std::vector<std::string> CheckLine(Line& line, LineCount& count) {
  Violations violations;
  CheckSockets(line, count, violations);
  CheckNumbers(line, violations);
  CheckHolds(line, violations);
  CheckReport(line, count, violations);
  CheckStations(line, violations);
  return violations;
}

}  // namespace qs71line
