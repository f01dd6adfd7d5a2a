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

}  // namespace
}  // namespace qs71prog
