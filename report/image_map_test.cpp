// Images laid out in memory with the format's own functions, read back by BuildImageMap:
// the detection of GrpAdr and Offset, the sections, links, sounds and free space, and the
// first inconsistency named for images no generator could have written.

#include "image_map.h"

#include <gtest/gtest.h>

#include "case_names.h"
#include "dump_result.h"
#include "format_test_support.h"
#include "sound_kinds.h"

namespace {

using imagetest::Link;
using imagetest::PutSections;

constexpr int32_t kSize = 0x1000;
constexpr uint8_t kAdpcm = 0x02, kSilence = 0x00, kPcm16 = 0x03, kPcm8 = 0x01;

// Section 1: an ADPCM sound and a silence; section 5: a PCM16 sound and the ADPCM again.
const std::vector<imagetest::SectionLinks> kTwoSections = {
    {1, {{kAdpcm, 63, 0, 99}, {kSilence, 63, 0, 199}}},
    {5, {{kPcm16, 31, 100, 199}, {kAdpcm, 31, 0, 99}}},
};

int Build(const std::vector<uint8_t>& image, ImageMap* map, std::string* problem,
          DumpSettings settings = {}) {
  return BuildImageMap(image, settings, map, problem);
}

class GrpAdrDetection : public testing::TestWithParam<int32_t> {};

TEST_P(GrpAdrDetection, FindsTheWidthTheTablesWereWrittenWith) {
  const int32_t grpAdr = GetParam();
  std::vector<uint8_t> image = imagetest::BlankImage(kSize);
  const int32_t soundBase = PutSections(image, kTwoSections, 5, grpAdr);
  ImageMap map;
  std::string problem;
  ASSERT_EQ(Build(image, &map, &problem), DumpOk) << problem;
  EXPECT_EQ(map.grpAdr, grpAdr);
  EXPECT_EQ(map.offset, 0);
  EXPECT_EQ(map.groupStart, 48);
  EXPECT_EQ(map.slotCount, 8);
  EXPECT_EQ(map.soundBase, soundBase);
  ASSERT_EQ(map.sections.size(), 2u);
  EXPECT_EQ(map.sections[1].number, 5);
  const GroupLink& pcm16 = map.sections[1].links[0];
  EXPECT_EQ(pcm16.start, soundBase + 100);
  EXPECT_EQ(pcm16.length, 100);
  EXPECT_TRUE(pcm16.last == false && map.sections[1].links[1].last);
  // The ADPCM sound is linked twice at two dividers: one sound, three in all.
  ASSERT_EQ(map.sounds.size(), 3u);
  EXPECT_EQ(map.sounds[0].linkCount, 2);
  EXPECT_TRUE(map.sounds[0].mixedDividers);
  EXPECT_EQ(map.sections[1].links[1].soundId, 1);
  EXPECT_EQ(map.sounds[1].kind->kind, KindSilence);
  EXPECT_EQ(map.sounds[1].length, 200);
}

INSTANTIATE_TEST_SUITE_P(EveryWidth, GrpAdrDetection, testing::Values(1, 2, 3, 4),
                         [](const testing::TestParamInfo<int>& info) {
                           return CaseName("GrpAdr " + std::to_string(info.param));
                         });

TEST(ImageMap, FindsANegativeOffsetFromWhereTheTablesLie) {
  std::vector<uint8_t> image = imagetest::BlankImage(kSize);
  PutSections(image, kTwoSections, 5, 3, -0x100);
  ImageMap map;
  std::string problem;
  ASSERT_EQ(Build(image, &map, &problem), DumpOk) << problem;
  EXPECT_EQ(map.offset, -0x100);
  EXPECT_EQ(map.sections[0].links[0].filePos, 48 + 0x100);
  EXPECT_EQ(map.sounds[0].filePos, map.soundBase + 0x100);
}

TEST(ImageMap, GivenSettingsOverrideTheDetection) {
  std::vector<uint8_t> image = imagetest::BlankImage(kSize);
  PutSections(image, kTwoSections, 5, 2);
  ImageMap map;
  std::string problem;
  DumpSettings settings;
  settings.grpAdr = 4;
  EXPECT_EQ(Build(image, &map, &problem, settings), DumpBadGroups);
  settings.grpAdr = 2;
  settings.offsetGiven = true;
  ASSERT_EQ(Build(image, &map, &problem, settings), DumpOk) << problem;
  EXPECT_FALSE(map.grpAdrDetected || map.offsetDetected);
}

TEST(ImageMap, AnImageWithoutSectionsIsAllSoundDataArea) {
  std::vector<uint8_t> image = imagetest::BlankImage(kSize);
  image[0x200] = 0x12;
  ImageMap map;
  std::string problem;
  ASSERT_EQ(Build(image, &map, &problem), DumpOk) << problem;
  EXPECT_TRUE(map.noSections);
  ASSERT_EQ(map.freeRanges.size(), 1u);
  EXPECT_EQ(map.freeRanges[0].start, 16);
  EXPECT_EQ(map.freeRanges[0].end, SystemAreaStart(kSize) - 1);
  EXPECT_EQ(map.freeRanges[0].used, 1);
}

TEST(ImageMap, FreeSpaceLiesBetweenTheDataRanges) {
  std::vector<uint8_t> image = imagetest::BlankImage(kSize);
  // Sounds at 0..9 and 20..29; 10..19 belongs to no link and holds two data bytes.
  const int32_t base = PutSections(image, {{1, {{kPcm8, 63, 20, 29}, {kPcm8, 63, 0, 9}}}}, 1);
  image[static_cast<size_t>(base + 12)] = 0;
  image[static_cast<size_t>(base + 13)] = 0;
  ImageMap map;
  std::string problem;
  ASSERT_EQ(Build(image, &map, &problem), DumpOk) << problem;
  ASSERT_EQ(map.freeRanges.size(), 2u);
  EXPECT_EQ(map.freeRanges[0].start, base + 10);
  EXPECT_EQ(map.freeRanges[0].end, base + 19);
  EXPECT_EQ(map.freeRanges[0].used, 2);
  EXPECT_EQ(map.freeRanges[1].start, base + 30);
}

struct Damage {
  const char* name;
  int64_t pos;  // relative to the first group table (48) when >= 0; section entry 2 when -1
  std::vector<uint8_t> bytes;
  int result;
  const char* named;  // part of the problem text
};

// Each damages the two-section image in one place that no generator writes so.
const Damage kDamages[] = {
    {"SectionBits", -1, {0x00, 0x00, 0x00, 0x00}, DumpBadSections, "section 2 at 0x000014"},
    {"SectionOption", -1, {0x78, 0x00, 0x01, 0x00}, DumpBadSections, "option pattern"},
    {"TableNotAligned", -1, {0x78, 0x2F, 0x00, 0x00}, DumpBadSections, "multiple of 16"},
    {"TypeByte", 0, {0x3F}, DumpBadGroups, "type byte"},
    {"SilenceStart", 10, {0x00}, DumpBadGroups, "not at the sound data base"},
    {"Pcm16OddLength", 21, {0x01}, DumpBadGroups, "cannot hold PCM16"},
    {"DataPastSystemArea", 21, {0x00, 0x00, 0x00}, DumpBadGroups, "outside the sound data area"},
    {"NoLastMark", 24, {0x03}, DumpBadGroups, "names no sound type"},
};

class DamagedImages : public testing::TestWithParam<Damage> {};

TEST_P(DamagedImages, NameTheFirstInconsistency) {
  const Damage& d = GetParam();
  std::vector<uint8_t> image = imagetest::BlankImage(kSize);
  PutSections(image, kTwoSections, 5);
  const int64_t at = d.pos < 0 ? 20 : 48 + d.pos;
  for (size_t i = 0; i < d.bytes.size(); ++i) image[static_cast<size_t>(at) + i] = d.bytes[i];
  ImageMap map;
  std::string problem;
  EXPECT_EQ(Build(image, &map, &problem), d.result);
  EXPECT_NE(problem.find(d.named), std::string::npos) << problem;
}

INSTANTIATE_TEST_SUITE_P(OnePlace, DamagedImages, testing::ValuesIn(kDamages),
                         [](const auto& info) { return CaseName(info.param.name); });

TEST(ImageMap, RefusesWhatCannotBeAnImage) {
  ImageMap map;
  std::string problem;
  EXPECT_EQ(Build(std::vector<uint8_t>(511, 0xFF), &map, &problem), DumpTooSmall);
  EXPECT_EQ(Build(std::vector<uint8_t>(4096, 0xFF), &map, &problem), DumpNoTag);
  EXPECT_EQ(problem, "0x000FBE holds FF FF");
  // At 512 bytes the header lies in the u-law table, whose bytes are no section entry.
  EXPECT_EQ(Build(imagetest::BlankImage(512), &map, &problem), DumpBadSections);
}

TEST(ImageMap, HeaderWordsTellRampFromClockWord) {
  std::vector<uint8_t> image = imagetest::BlankImage(kSize);
  imagetest::PutLe(image, 8, 0x00210007, 4);
  imagetest::PutLe(image, 12, 0xFFFFFF0A, 4);
  ImageMap map;
  std::string problem;
  ASSERT_EQ(Build(image, &map, &problem), DumpOk) << problem;
  EXPECT_TRUE(map.rampDec.isRamp);
  EXPECT_EQ(map.rampDec.rampPosition, 0x2100u);
  EXPECT_EQ(map.rampDec.divider, 7);
  EXPECT_FALSE(map.rampInc.isRamp);
  EXPECT_EQ(map.rampInc.divider, 10);
}

}  // namespace
