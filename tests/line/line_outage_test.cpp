// A line's hour without its server, at the real pace scaled down: two stations (A with two
// programmers, B with one) on one PostgreSQL trace, the server stopped after half an hour and
// started an hour later, then the lot made to its end; the line's invariants are checked
// against the part files as under any faults, and the parts made before, during and after the
// outage are counted station by station.
//
// Scaling by S divides every time by S together: a request of the emulated programmer takes
// 1000 / S µs (a real programmer's USB frame is 1 ms), the outage lasts 3600 / S s and the
// stations' reserve-minutes is the real reserve / S. A station's reserve is a time at its own
// rate, so the parts it holds against the parts the outage takes are as at the real pace.
//
// QS71_OUTAGE_SCALE: S (0 or unset: passed over; bench/line_outage.sh sets it);
// QS71_OUTAGE_RESERVE_MINUTES: the real reserve (30, the default), a multiple of S.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "file_contents.h"
#include "line_harness.h"
#include "line_invariants.h"
#include "process_runner.h"
#include "test_scratch.h"

namespace qs71line {
namespace {

namespace fs = std::filesystem;

const std::vector<StationShape> kStations = {{"A", 2, false}, {"B", 1, false}};
constexpr double kRealWarmUp = 1800.0;
constexpr double kRealOutage = 3600.0;
// After the server is back the lot goes on for about this long at the rate before.
constexpr double kRealAfter = 1800.0;

// The seconds one part takes at this pace, with a quarter of a second for the loop's polls.
double PartSeconds(const fs::path& dir, const fs::path& image, int pace) {
  const auto start = std::chrono::steady_clock::now();
  const testsupport::ProcessResult run = testsupport::RunProcess(
      {QS71PROG_PATH, "--emulate=" + (dir / "calibration.otp").string(), "--write", image.string()},
      {.environment = {{"QS71_EMU_PACE_US", std::to_string(pace)}}});
  if (run.exitCode != 0) return 0.0;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() + 0.25;
}

std::string Query(Line& line, const std::string& statement) {
  std::string rows, problem;
  if (!line.Server().Sql(statement, rows, problem)) ADD_FAILURE() << "the trace: " << problem;
  return rows;
}

// Each station's parts started before, while and after the server was away, and the longest
// pause between two of its parts' starts that took in any of the outage.
std::string Figures(Line& line, const Outage& outage) {
  const std::string down = std::to_string(outage.down), up = std::to_string(outage.up);
  const std::string started = "extract(epoch FROM p.started_at::timestamptz)";
  return Query(line,
      "WITH s AS (SELECT r.station, " + started + " AS t, lag(" + started + ") OVER (PARTITION BY "
      "r.station ORDER BY p.started_at) AS before FROM parts p JOIN runs r ON r.id = p.run) "
      "SELECT station, count(*) FILTER (WHERE t < " + down + "), count(*) FILTER (WHERE t >= " +
      down + " AND t < " + up + "), count(*) FILTER (WHERE t >= " + up + "), "
      "round(coalesce(max(t - before) FILTER (WHERE t > " + down + " AND before < " + up +
      "), 0)::numeric, 1) FROM s GROUP BY station ORDER BY station");
}

int TimesWaited(Line& line, size_t station) {
  std::istringstream screen(ReadFileText(line.Folder() / line.Shape()[station].name / "screen.log"));
  int waited = 0;
  for (std::string text; std::getline(screen, text);) {
    waited += text.find("waiting for the line's trace") != std::string::npos;
  }
  return waited;
}

TEST(LineOutage, AnHourWithoutTheServerLosesNoPart) {
  const int scale = static_cast<int>(Setting("QS71_OUTAGE_SCALE", 0.0));
  if (scale <= 0) GTEST_SKIP() << "QS71_OUTAGE_SCALE is not set (bench/line_outage.sh sets it)";
  if (!testsupport::PostgresServer::Installed()) GTEST_SKIP() << "no PostgreSQL server on this machine";
  const int realReserve = static_cast<int>(Setting("QS71_OUTAGE_RESERVE_MINUTES", 30.0));
  ASSERT_TRUE(realReserve >= scale && realReserve % scale == 0)
      << "QS71_OUTAGE_RESERVE_MINUTES=" << realReserve << " is no multiple of the scale " << scale;
  const fs::path dir = CleanScratchFolder(QS71_TEST_TMPDIR, "LineOutage");
  const fs::path image = MakeDemoImage(dir / "gen");
  ASSERT_FALSE(image.empty());
  const LineSettings settings{1000 / scale, realReserve / scale};
  const double part = PartSeconds(dir, image, settings.paceMicroseconds);
  ASSERT_GT(part, 0.0) << "a part could not be written at the pace of " << settings.paceMicroseconds << " µs";
  const double warmUp = kRealWarmUp / scale, outage = kRealOutage / scale;
  Schedule schedule;
  schedule.lot = static_cast<int>(std::ceil(3 * (warmUp + outage + kRealAfter / scale) / part));
  schedule.faults = {{warmUp, FaultKind::kServerDown, 0, 1, outage}};
  Line line(dir / "line", kStations, schedule, image, settings);
  std::string problem;
  ASSERT_TRUE(line.Prepare(problem)) << problem;
  const bool finished = line.Run(2 * outage + 300.0);
  LineCount count;
  std::vector<std::string> violations = CheckLine(line, count);
  if (!finished) violations.insert(violations.begin(), "the line did not finish its lot");
  for (const std::string& trouble : line.Troubles()) violations.push_back("harness: " + trouble);
  for (const std::string& violation : violations) ADD_FAILURE() << violation << "\n(" << line.Folder() << ")";
  ASSERT_EQ(line.Outages().size(), 1u);
  const Outage& away = line.Outages()[0];
  ASSERT_GT(away.up, away.down) << "the server did not start again";
  std::printf("outage: scale %d, pace %d us, %.1f s a part, server away %.1f s (%.0f min real), "
              "reserve %d min (%d min real), lot %d, %d part files, %d attempts, %d passes, %d "
              "violations\n",
              scale, settings.paceMicroseconds, part, away.up - away.down,
              (away.up - away.down) * scale / 60.0, settings.reserveMinutes, realReserve,
              schedule.lot, count.parts, count.attempts, count.passes,
              static_cast<int>(violations.size()));
  std::istringstream rows(Figures(line, away));
  for (std::string row; std::getline(rows, row);) {
    std::replace(row.begin(), row.end(), '|', ' ');
    std::istringstream cells(row);
    std::string station;
    int before = 0, during = 0, after = 0;
    double pause = 0.0;
    cells >> station >> before >> during >> after >> pause;
    const size_t index = station == "A" ? 0 : 1;
    std::printf("outage station %s: %d programmers, parts started %d before, %d while away, %d "
                "after; longest pause %.1f s (%.0f min real); %d screen lines said it waited\n",
                station.c_str(), kStations[index].programmers, before, during, after, pause,
                pause * scale / 60.0, TimesWaited(line, index));
  }
  std::error_code ignored;
  if (violations.empty()) fs::remove_all(dir / "line", ignored);
}

}  // namespace
}  // namespace qs71line
