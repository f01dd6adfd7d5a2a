#include "sound_decoders.h"

#include <gtest/gtest.h>

#include <vector>

#include "format_test_support.h"
#include "image_layout.h"
#include "playback_rate.h"

namespace {

constexpr int32_t kSize = 0x1000;

using imagetest::TablesOf;

TEST(Decoders, AdpcmStepsWithTheTableTheImageStores) {
  auto image = imagetest::BlankImage(kSize);
  imagetest::PutLe(image, AdpcmStart(kSize), 100, 2);  // step 0: 7 -> 100
  const uint8_t code77 = 0x70;
  // Code 7 from step 100: 100 / 8 + 100 + 50 + 25; then index 8, step 16, code 0 adds 2.
  EXPECT_EQ(DecodeAdpcmRange(&code77, 1, TablesOf(image)), (std::vector<int32_t>{187, 189}));
}

// The clock is counted divided by 32 and truncated, as the generator stored it when it worked
// out the dividers: 12000127 Hz counts 375003 a second, 16304.478 Hz at divider 22, not the
// 16304.52 of the untruncated clock.
TEST(PlaybackRate, ComesFromTheClockAsTheImageWasCompiledForIt) {
  struct Row {
    int64_t clock;
    uint8_t divider;
    uint32_t hz;
  } const rows[] = {{kDefaultMainClockHz, 7, 64000}, {12000000, 22, 16304}, {12000127, 22, 16304},
                    {8192000, 31, 8000},             {31, 0, 1},            {0x7FFFFFFF, 0, 67108863}};
  for (const Row& r : rows) EXPECT_EQ(LinkRateHz(r.clock, r.divider), r.hz) << r.clock;
  EXPECT_DOUBLE_EQ(LinkRate(kDefaultMainClockHz, 7), 64000.0);
}

}  // namespace
