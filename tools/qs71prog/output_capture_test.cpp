#include "output_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <mutex>

#include "platform_io.h"

namespace qs71prog {
namespace {

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
