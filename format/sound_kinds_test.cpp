#include "sound_kinds.h"

#include <gtest/gtest.h>

namespace {

// Bytes the generator reserves for a wave file and samples the inspector reads back from them.
TEST(SoundKindsTest, BytesAndSamplesByKind) {
  struct Case {
    int32_t kind;
    uint32_t samples, bytes;
    int64_t played;  // from those bytes
  };
  const Case cases[] = {
      {KindAdpcm, 3, 2, 4},  {KindPcm8, 3, 3, 3},   {KindEq01, 9, 10, 16},
      {KindPcm16, 3, 6, 3},  {KindUlaw, 3, 3, 3},   {KindEq01, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const SoundKindInfo* kind = FindSoundKind(c.kind);
    ASSERT_NE(kind, nullptr);
    EXPECT_EQ(KindBytesFor(*kind, c.samples), c.bytes) << kind->label;
    EXPECT_EQ(KindSamplesIn(*kind, c.bytes), c.played) << kind->label;
  }
  EXPECT_EQ(KindSamplesIn(*FindSoundKind(KindSilence), 20), 20);
}

}  // namespace
