#include "bar_render.h"

#include <gtest/gtest.h>

namespace qs71prog {
namespace {

ProgressPoint Point(int stage, int percent, double remaining, double elapsed = 0.0) {
  ProgressPoint point;
  point.stage = stage;
  point.size = 262144;
  point.position = static_cast<int32_t>(int64_t{point.size} * percent / 100) - 1;
  point.percent = percent;
  point.remaining = remaining;
  point.elapsed = elapsed;
  return point;
}

TEST(FormatDuration, MinutesSecondsAndHours) {
  EXPECT_EQ(FormatDuration(-1), "--:--");
  EXPECT_EQ(FormatDuration(0), "0:00");
  EXPECT_EQ(FormatDuration(7.4), "0:07");
  EXPECT_EQ(FormatDuration(59.6), "1:00");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
}

TEST(RenderBar, NeverReachesTheLastColumn) {
  EXPECT_EQ(RenderBar(Point(2, 50, 7), 60),
            "write       [#############.............]  50%  0:07 left");
  // The longest time left fills the line but for the last column, where a terminal wraps.
  const std::string longest = RenderBar(Point(2, 1, 3600), 60);
  EXPECT_EQ(longest, "write       [..........................]   1%  1:00:00 left");
  EXPECT_EQ(longest.size(), 59u);
}

TEST(RenderBar, UnknownTimeAndEveryStageTitle) {
  EXPECT_EQ(RenderBar(Point(1, 0, -1), 60),
            "blank check [..........................]   0%  --:-- left");
  EXPECT_EQ(RenderBar(Point(3, 100, 0), 60),
            "verify      [##########################] 100%  0:00 left");
}

TEST(RenderBar, DropsTheGaugeOnANarrowTerminal) {
  EXPECT_EQ(RenderBar(Point(2, 42, 65), 30), "write         42%  1:05 left");
}

TEST(RenderDoneLine, KeepsTheGaugeOfTheBar) {
  const std::string done = RenderDoneLine(Point(2, 100, 0, 3.2), 60);
  EXPECT_EQ(done, "write       [##########################] 100%  in 0:03");
  EXPECT_EQ(done.find(']'), RenderBar(Point(2, 10, 5), 60).find(']'));
}

TEST(RenderPlainLine, NamesTheAddress) {
  EXPECT_EQ(RenderPlainLine(Point(2, 50, 1)), "write  50%  address 0x01FFFF of 0x03FFFF");
}

}  // namespace
}  // namespace qs71prog
