#include "sound_decoders.h"

#include <gtest/gtest.h>

#include <vector>

#include "format_test_support.h"
#include "image_layout.h"

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

}  // namespace
