// A run's reserve of numbers covers a time at its own rate, and the screen's lot line says
// how far the lot is and, while the line's trace does not answer, since when.

#include "trace/run_trace.h"

#include <gtest/gtest.h>

#include <ctime>

#include "platform/host_system.h"
#include "text_format.h"
#include "trace/random_id.h"

namespace qs71prog {
namespace {

TEST(ReserveTarget, CoversMinutesAtTheRunsRate) {
  const struct {
    int taken;
    double running;
    int minutes;
    int target;
  } cases[] = {
      {0, 0.0, 30, kLeastReserve},  // nothing known yet
      {1, 0.1, 30, 120},            // a quarter of a minute at least
      {3, 0.5, 30, 180},            // three programmers, 6 parts a minute
      {4, 0.33, 1, 13},             // 12 parts a minute and a reserve of one
      {150, 60.0, 30, 75},          // 150 parts an hour
      {150, 60.0, 60, 150},         // the policy's reserve-minutes
      {10, 600.0, 30, kLeastReserve},
      {7, 2.0, 0, kLeastReserve},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReserveTarget(c.taken, c.running, c.minutes), c.target)
        << c.taken << " in " << c.running << " min, " << c.minutes;
  }
}

TEST(LotLine, SaysTheGoodPartsTheScrapAndSinceWhen) {
  const std::tm local = LocalCalendar(1765274527);  // 2025-12-09T10:02:07Z
  const std::string at = Format("%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  const struct {
    LotState state;
    std::string line;
  } cases[] = {
      {{0, 5, 1, 0, "", false}, ""},
      {{40, 32, 6, 2, "", false}, "lot 40: 32 good, 6 scrap, 8 to go"},
      {{40, 41, 0, 0, "", false}, "lot 40: 41 good, 0 scrap, 0 to go"},
      {{40, 32, 6, 2, "2025-12-09T10:02:07.120Z", false},
       "lot 40: 32 good, 6 scrap, 8 to go, as the line's trace said at " + at},
      {{40, 3, 0, 0, "", true},
       "lot 40: 3 good, 0 scrap, 37 to go, as this station counts: the line's trace has not "
       "answered"},
  };
  for (const auto& c : cases) EXPECT_EQ(LotLine(c.state), c.line);
}

TEST(RandomUuid, IsVersion4AndNeverTheSame) {
  const std::string a = RandomUuid();
  const std::string b = RandomUuid();
  EXPECT_NE(a, b);
  for (const std::string& id : {a, b}) {
    ASSERT_TRUE(IsUuid(id)) << id;
    EXPECT_EQ(id[14], '4') << id;
    EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos) << id;
  }
}

}  // namespace
}  // namespace qs71prog
