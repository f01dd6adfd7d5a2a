#include "job/programmer_lock.h"

#include <gtest/gtest.h>
#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include <fstream>

#include "test_scratch.h"

namespace qs71prog {
namespace {

TEST(LockFileName, KeepsOnlyWhatAFileNameSafelyHolds) {
  EXPECT_EQ(LockFileName("QS71-0042"), "qs71prog-QS71-0042.lock");
  EXPECT_EQ(LockFileName("/dev/hidraw3"), "qs71prog-_dev_hidraw3.lock");
  EXPECT_EQ(LockFileName("a b\\c:d"), "qs71prog-a_b_c_d.lock");
}

// A hold belongs to its open file, not to the process: a second lock in this very process
// is refused as a second process would be, and names this process as the holder.
TEST(ProgrammerLock, ASecondHoldOfOneChipFileIsRefusedWithTheHolder) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "ProgrammerLock");
  const std::string chip = (dir / "chip.otp").string();
  std::ofstream(chip) << "part";
  std::string problem;
  ProgrammerLock first;
  ASSERT_TRUE(first.HoldChipFile(chip, problem)) << problem;
  EXPECT_TRUE(first.HoldChipFile(chip, problem)) << "held already";
  ProgrammerLock second;
  EXPECT_FALSE(second.HoldChipFile(chip, problem));
  EXPECT_EQ(problem, "the chip file " + chip + " is in use by another qs71prog (process " +
                         std::to_string(getpid()) + ")");
  EXPECT_TRUE(second.HoldChipFile((dir / "missing.otp").string(), problem));
}

}  // namespace
}  // namespace qs71prog
