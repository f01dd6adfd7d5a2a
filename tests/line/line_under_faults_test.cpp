// A line under faults: three stations of the real qs71prog on one PostgreSQL trace, their
// emulated programmers fed from socket folders, a seeded schedule of faults against them, and
// the line's invariants checked against the part files once it has made its lot.
//
// QS71_LINE_SECONDS (default 100) is how long schedules are drawn and run, one after another
// (0: the test is passed over);
// QS71_LINE_SEED runs the schedule of that one seed alone, as a failing run printed it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>

#include "line_harness.h"
#include "line_invariants.h"
#include "postgres_server.h"
#include "process_runner.h"
#include "test_scratch.h"

namespace qs71line {
namespace {

namespace fs = std::filesystem;

// The span over which a schedule's faults fall, and how long a line may take to finish its lot
// after the last one.
constexpr double kSpan = 20.0;
constexpr double kFinishWithin = 90.0;

const std::vector<StationShape> kLine = {
    {"A", 3, false},
    {"B", 2, true},
    {"C", 1, true},
};

struct Totals {
  int schedules = 0, faults = 0, parts = 0, passes = 0, attempts = 0, open = 0, violations = 0;
};

void RunLine(Line& line, const std::string& plan, Totals& totals, std::vector<std::string>& violations);

// One schedule, start to end; its violations, each with the seed that makes it again.
void RunSchedule(const fs::path& dir, const fs::path& image, uint32_t seed, Totals& totals) {
  const Schedule schedule = DrawSchedule(seed, kLine, kSpan);
  std::string plan = "seed " + std::to_string(seed) + ", lot " + std::to_string(schedule.lot) + ":\n";
  for (const Fault& fault : schedule.faults) plan += "  " + Describe(fault, kLine) + "\n";
  const fs::path folder = dir / ("seed-" + std::to_string(seed));
  std::vector<std::string> violations;
  {
    Line line(folder, kLine, schedule, image);
    RunLine(line, plan, totals, violations);
  }
  // A schedule that broke nothing leaves nothing: its server's cluster alone is tens of MB.
  std::error_code ignored;
  if (violations.empty()) fs::remove_all(folder, ignored);
}

void RunLine(Line& line, const std::string& plan, Totals& totals, std::vector<std::string>& violations) {
  const Schedule& schedule = line.Plan();
  const uint32_t seed = schedule.seed;
  std::string problem;
  if (!line.Prepare(problem)) {
    violations.push_back("the line could not be set up: " + problem);
    ADD_FAILURE() << violations.back();
    return;
  }
  const bool finished = line.Run(kFinishWithin);
  LineCount count;
  violations = CheckLine(line, count);
  if (!finished) violations.insert(violations.begin(), "the line did not finish its lot");
  for (const std::string& trouble : line.Troubles()) violations.push_back("harness: " + trouble);
  ++totals.schedules;
  totals.faults += static_cast<int>(schedule.faults.size());
  totals.parts += count.parts;
  totals.passes += count.passes;
  totals.attempts += count.attempts;
  totals.open += count.open;
  totals.violations += static_cast<int>(violations.size());
  for (const std::string& violation : violations) {
    ADD_FAILURE() << "QS71_LINE_SEED=" << seed << ": " << violation << "\n" << plan
                  << "(the line's folder: " << line.Folder() << ")";
  }
}

TEST(LineUnderFaults, EveryPartIsCountedOnceWhateverTheLineMeets) {
  if (!testsupport::PostgresServer::Installed()) GTEST_SKIP() << "no PostgreSQL server on this machine";
  const double budget = Setting("QS71_LINE_SECONDS", 100.0);
  if (budget <= 0.0 && !std::getenv("QS71_LINE_SEED")) GTEST_SKIP() << "QS71_LINE_SECONDS=0";
  const fs::path dir = CleanScratchFolder(QS71_TEST_TMPDIR, "LineUnderFaults");
  const fs::path image = MakeDemoImage(dir / "gen");
  ASSERT_FALSE(image.empty());
  if (testsupport::RunProcess({"unshare", "--pid", "--fork", "--kill-child", "true"}).exitCode != 0) {
    std::printf("line: unshare --pid is refused here: stations B and C share the test's PID "
                "namespace\n");
  }
  Totals totals;
  if (const char* seed = std::getenv("QS71_LINE_SEED"); seed && *seed) {
    RunSchedule(dir, image, static_cast<uint32_t>(std::strtoul(seed, nullptr, 10)), totals);
  } else {
    const auto start = std::chrono::steady_clock::now();
    std::random_device entropy;
    // Each run draws new schedules; the seed of any that fails is printed.
    while (totals.schedules == 0 ||
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < budget) {
      RunSchedule(dir, image, entropy(), totals);
    }
  }
  std::printf("line: %d schedules, %d faults, %d part files, %d attempts, %d passes, %d left "
              "under way, %d violations\n",
              totals.schedules, totals.faults, totals.parts, totals.attempts, totals.passes,
              totals.open, totals.violations);
}

}  // namespace
}  // namespace qs71line
