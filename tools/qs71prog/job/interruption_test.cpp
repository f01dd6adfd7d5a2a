#include "job/interruption.h"

#include <gtest/gtest.h>

namespace qs71prog {
namespace {

TEST(InterruptWatcher, AnnouncesTheFirstOnceAndAbortsOnTheSecond) {
  InterruptWatcher watcher;
  const std::pair<int, InterruptAction> readings[] = {
      {0, InterruptAction::kNone},
      {1, InterruptAction::kAnnounce},
      {1, InterruptAction::kNone},
      {2, InterruptAction::kAbort},
  };
  for (const auto& [count, action] : readings) EXPECT_EQ(watcher.Check(count), action) << count;
  InterruptWatcher quick;  // both came between two readings
  EXPECT_EQ(quick.Check(2), InterruptAction::kAbort);
}

TEST(InterruptAnnouncement, OnlyTheWriteIsLetFinishForThePartsSake) {
  const std::string write = InterruptAnnouncement(Phase::kWrite, "Ctrl-C");
  EXPECT_NE(write.find("the write will finish"), std::string::npos);
  EXPECT_NE(write.find("partly written"), std::string::npos);
  EXPECT_EQ(InterruptAnnouncement(Phase::kBlankCheck, "Ctrl-C"),
            "Ctrl-C: qs71prog stops after the blank check. Ctrl-C again stops at once.");
  EXPECT_EQ(InterruptAnnouncement(Phase::kVerify, "SIGHUP"),
            "SIGHUP: qs71prog stops after the verify. SIGHUP again stops at once.");
  EXPECT_EQ(StepTitle(Phase::kIdentify), "identification");
}

}  // namespace
}  // namespace qs71prog
