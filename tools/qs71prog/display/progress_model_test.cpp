#include "display/progress_model.h"

#include <gtest/gtest.h>

namespace qs71prog {
namespace {

constexpr int32_t kSize = 262144;
constexpr int32_t kLast = kSize - 1;
const Selection kAll{true, true, true};

std::string Kinds(const std::vector<ProgressEvent>& events) {
  std::string kinds;
  for (const ProgressEvent& event : events) {
    const char* names[] = {"began", "advanced", "done"};
    kinds += std::string(kinds.empty() ? "" : " ") + names[static_cast<int>(event.kind)] +
             std::to_string(event.point.stage);
  }
  return kinds;
}

TEST(ProgressModel, IdentificationShowsNoProgress) {
  ProgressModel model(kAll);
  EXPECT_TRUE(model.Observe(0, 0, kSize, 0.0).empty());
  // The system-area read of the identification moves the cell while the stage is 0.
  EXPECT_TRUE(model.Observe(0, kLast, kSize, 0.1).empty());
}

TEST(ProgressModel, ANewStageIgnoresThePreviousTransfersEnd) {
  ProgressModel model(kAll);
  EXPECT_EQ(Kinds(model.Observe(1, kLast, kSize, 0.0)), "began1");
  EXPECT_TRUE(model.Observe(1, kLast, kSize, 0.1).empty());
  const auto events = model.Observe(1, 31, kSize, 0.2);
  ASSERT_EQ(Kinds(events), "advanced1");
  EXPECT_EQ(events[0].point.position, 31);
  EXPECT_EQ(events[0].point.percent, 0);
}

TEST(ProgressModel, AStageFirstSeenMidwayCountsFromThere) {
  ProgressModel model(kAll);
  const auto events = model.Observe(2, kSize / 2 - 1, kSize, 0.0);
  // The blank check ran and succeeded between two readings.
  ASSERT_EQ(Kinds(events), "began1 advanced1 done1 began2 advanced2");
  EXPECT_EQ(events[1].point.position, kLast);
  EXPECT_EQ(events[3].point.position, 0);
  EXPECT_EQ(events[4].point.percent, 50);
}

TEST(ProgressModel, PositionsOnlyGrowWithinAStage) {
  ProgressModel model(kAll);
  model.Observe(2, 31, kSize, 0.0);
  EXPECT_EQ(Kinds(model.Observe(2, 1023, kSize, 0.1)), "advanced2");
  EXPECT_TRUE(model.Observe(2, 1023, kSize, 0.2).empty());
  EXPECT_TRUE(model.Observe(2, 511, kSize, 0.3).empty());
  EXPECT_TRUE(model.Observe(2, kSize, kSize, 0.3).empty());
}

TEST(ProgressModel, ALaterStageCompletesTheSelectedOnesBefore) {
  ProgressModel model(Selection{true, false, true});
  model.Observe(1, 4095, kSize, 0.0);
  const auto events = model.Observe(3, kLast, kSize, 1.0);
  ASSERT_EQ(Kinds(events), "advanced1 done1 began3");
  EXPECT_EQ(events[0].point.position, kLast);
  EXPECT_EQ(events[0].point.percent, 100);
  EXPECT_DOUBLE_EQ(events[1].point.elapsed, 1.0);
}

TEST(ProgressModel, CompletionEndsAtTheLastAddressOnce) {
  ProgressModel model(kAll);
  model.Observe(2, 8191, kSize, 0.0);
  const auto events = model.Complete(2, kSize, 0.5);
  ASSERT_EQ(Kinds(events), "advanced2 done2");
  EXPECT_EQ(events[0].point.position, kLast);
  EXPECT_TRUE(model.Complete(2, kSize, 0.6).empty());
  EXPECT_TRUE(model.Observe(2, kLast, kSize, 0.7).empty());
}

TEST(ProgressModel, CompletionOfAStageNeverSeenBeginsIt) {
  ProgressModel model(kAll);
  EXPECT_EQ(Kinds(model.Complete(3, kSize, 0.0)), "began3 advanced3 done3");
  EXPECT_TRUE(model.Complete(3, 0, 0.0).empty());
  EXPECT_TRUE(model.Complete(0, kSize, 0.0).empty());
}

TEST(ProgressModel, EstimatesTheTimeLeftFromTheRateSoFar) {
  ProgressModel model(kAll);
  model.Observe(2, 31, kSize, 10.0);
  const auto early = model.Observe(2, 1023, kSize, 10.2);
  ASSERT_EQ(early.size(), 1u);
  EXPECT_LT(early[0].point.remaining, 0);  // too little history
  const auto events = model.Observe(2, 31 + kSize / 4, kSize, 11.0);
  ASSERT_EQ(events.size(), 1u);
  // A quarter of the part in one second: three quarters, less a chunk, to go.
  EXPECT_NEAR(events[0].point.remaining, 3.0, 0.01);
  EXPECT_NEAR(events[0].point.elapsed, 1.0, 1e-9);
}

}  // namespace
}  // namespace qs71prog
