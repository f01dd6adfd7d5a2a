#include "platform/output_streams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <mutex>

#include "platform/host_system.h"

namespace qs71prog {
namespace {

using Lines = std::vector<std::string>;

TEST(LineSplitter, JoinsPiecesIntoWholeLines) {
  LineSplitter splitter;
  EXPECT_EQ(splitter.Feed("OTP ID: 0x6D", 12), Lines{});
  EXPECT_EQ(splitter.Feed(", 0x61.\nOTP size", 16), Lines{"OTP ID: 0x6D, 0x61."});
  EXPECT_EQ(splitter.Feed(": 262144 bytes.\n\n", 17), (Lines{"OTP size: 262144 bytes.", ""}));
  EXPECT_FALSE(splitter.Finish().has_value());
}

TEST(LineSplitter, DropsTheCarriageReturnOfAWindowsNewline) {
  LineSplitter splitter;
  EXPECT_EQ(splitter.Feed("a\r\nb\r", 5), Lines{"a"});
  EXPECT_EQ(splitter.Feed("\n", 1), Lines{"b"});
}

TEST(LineSplitter, HandsOverAnUnfinishedLastLine) {
  LineSplitter splitter;
  splitter.Feed("no newline", 10);
  EXPECT_EQ(splitter.Finish(), std::optional<std::string>("no newline"));
  EXPECT_FALSE(splitter.Finish().has_value());
}

TEST(LineSplitter, CutsAnEndlessLine) {
  LineSplitter splitter;
  const std::string flood(LineSplitter::kLongestLine + 10, 'x');
  const Lines lines = splitter.Feed(flood.data(), flood.size());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), LineSplitter::kLongestLine);
  EXPECT_EQ(splitter.Finish()->size(), 10u);
}

// The library prints through std::cout and printf from inside its call; both must arrive
// as whole lines, in order, and stdout must be the process's own again afterwards.
TEST(OutputCapture, HandsOverWholeLinesAndGivesTheDescriptorBack) {
  BufferStdoutByLine();
  std::mutex mutex;
  std::vector<std::string> lines;
  {
    OutputCapture capture(kStdoutFd, [&](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex);
      lines.push_back(line);
    });
    ASSERT_TRUE(capture.Start());
    std::cout << "OTP test started @ VDD=" << 3.3 << "V.\n";
    std::printf("OTP ID: 0x%02X", 0x6D);
    std::printf(", 0x%02X.\n\n", 0x61);
    std::cout << "unfinished" << std::flush;
    // What the pipe holds is handed over at once; the unfinished line waits for its end.
    capture.Deliver();
    {
      std::lock_guard<std::mutex> lock(mutex);
      EXPECT_EQ(lines.size(), 3u);
    }
    capture.Deliver();  // nothing new: returns without waiting
    capture.Stop();
  }
  const std::vector<std::string> expected = {"OTP test started @ VDD=3.3V.", "OTP ID: 0x6D, 0x61.",
                                             "", "unfinished"};
  EXPECT_EQ(lines, expected);
  // Nothing more arrives once the capture has stopped.
  std::printf("after the capture\n");
  std::fflush(stdout);
  EXPECT_EQ(lines.size(), expected.size());
}

}  // namespace
}  // namespace qs71prog
