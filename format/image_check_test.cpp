// What makes a file an image: each check refuses the one kind of damage it is there for, and
// names the place; an image as the generator leaves it passes them all.

#include "image_check.h"

#include <gtest/gtest.h>

#include "format_test_support.h"

namespace {

constexpr int32_t kPart = 0x40000;
constexpr int kGeneratorImage = -1;  // the tables, the tag and section 1 with one link
constexpr int kNoSections = -2;      // the same without the section

struct CheckCase {
  const char* name;
  int32_t size;
  int fill;     // kGeneratorImage, or every byte this value
  int32_t pos;  // -1: nothing changed
  uint8_t value;
  bool ok;
  ImageFault fault;    // the first problem, when not ok
  const char* detail;  // part of its detail
};

const CheckCase kCases[] = {
    {"AsGenerated", kPart, kGeneratorImage, -1, 0, true, {}, ""},
    {"OnlyASystemArea", 512, kNoSections, -1, 0, false, ImageFault::kSectionTable,
     "section 0 at 0x000004"},
    {"TooSmall", 511, 0xFF, -1, 0, false, ImageFault::kTooSmall, "511 bytes"},
    {"AllBlank", kPart, 0xFF, -1, 0, false, ImageFault::kNoTag, "0x03FFBE holds FF FF"},
    {"TagByte", kPart, kGeneratorImage, kPart - 65, 0xA4, false, ImageFault::kNoTag,
     "0x03FFBE holds 5A A4"},
    {"UlawEntry", kPart, kGeneratorImage, kPart - 512 + 10, 0x00, false, ImageFault::kUlawTable,
     "entry 5 at 0x03FE0A holds 0000, not 0028"},
    {"StepEntry", kPart, kGeneratorImage, kPart - 256 + 177, 0x00, false, ImageFault::kStepTable,
     "entry 88 at 0x03FFB0 holds 00FF, not 7FFF"},
    {"SecondStageTrim", kPart, kGeneratorImage, kPart - 47, 0x00, false, ImageFault::kSystemArea,
     "k=47 at 0x03FFD1 holds 00"},
    {"MaskedTrim", kPart, kGeneratorImage, kPart - 54, 0x00, false, ImageFault::kFactoryCell,
     "0x03FFCA (k = 54, image byte 00)"},
    {"FirstTrim", kPart, kGeneratorImage, kPart - 63, 0x00, false, ImageFault::kFactoryCell,
     "0x03FFC1 (k = 63, image byte 00)"},
    {"EnableBitKept", kPart, kGeneratorImage, kPart - 62, 0xFB, false, ImageFault::kFactoryCell,
     "k = 62, image byte FB"},
    {"EnableBitsAroundIt", kPart, kGeneratorImage, kPart - 62, 0xE4, true, {}, ""},
    {"FinishedMarker", kPart, kGeneratorImage, kPart - 31, 0x00, true, {}, ""},
    {"SectionZeroEntry", kPart, kGeneratorImage, 4, 0x00, false, ImageFault::kSectionTable,
     "section 0 at 0x000004: entry FFFFFF00"},
    // A first entry that no section has reads as sound data from 16 on: nothing is left to play.
    {"SectionEntryFilled", kPart, kGeneratorImage, 16, 0x00, false, ImageFault::kNothingPlays,
     "no section entry names a group table"},
    {"GroupEntryFilled", kPart, kGeneratorImage, 0x20, 0x00, false, ImageFault::kGroupTables,
     "group entry at 0x000028 has the type byte FF"},
    {"NothingPlays", kPart, kNoSections, -1, 0, false, ImageFault::kNothingPlays,
     "no section entry names a group table"},
};

std::vector<uint8_t> Build(const CheckCase& c) {
  std::vector<uint8_t> image =
      c.fill < 0 ? imagetest::BlankImage(c.size)
                 : std::vector<uint8_t>(static_cast<size_t>(c.size), static_cast<uint8_t>(c.fill));
  if (c.fill == kGeneratorImage) imagetest::PutSections(image, {{1, {{0x03, 7, 0, 9}}}}, 1);
  if (c.pos >= 0) image[static_cast<size_t>(c.pos)] = c.value;
  return image;
}

TEST(CheckImage, NamesTheFirstThingThatIsNotAnImage) {
  for (const CheckCase& c : kCases) {
    const ImageVerdict verdict = CheckImage(Build(c));
    ASSERT_EQ(verdict.Ok(), c.ok) << c.name << ": " << ImageRefusal(verdict);
    if (c.ok) continue;
    EXPECT_EQ(verdict.problems.front().fault, c.fault) << c.name;
    EXPECT_NE(verdict.problems.front().detail.find(c.detail), std::string::npos)
        << c.name << ": " << verdict.problems.front().detail;
  }
}

TEST(CheckImage, EveryCheckRunsSoThatAReportCanShowThemAll) {
  const ImageVerdict verdict = CheckImage(std::vector<uint8_t>(kPart, 0x00));
  const ImageFault expected[] = {ImageFault::kNoTag,       ImageFault::kUlawTable,
                                 ImageFault::kStepTable,   ImageFault::kSystemArea,
                                 ImageFault::kFactoryCell, ImageFault::kSectionTable};
  ASSERT_EQ(verdict.problems.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(verdict.problems[i].fault, expected[i]) << i;
  }
  EXPECT_EQ(ImageRefusal(verdict), "no tag 5A A5 at TagPos (0x03FFBE holds 00 00)");
  EXPECT_EQ(verdict.Find(ImageFault::kTooSmall), nullptr);
}

TEST(CheckImage, KeepsTheSectionTableItRead) {
  std::vector<uint8_t> image = imagetest::BlankImage(kPart);
  imagetest::PutSections(image, {{2, {{0x03, 7, 0, 9}}}}, 2);
  const ImageVerdict verdict = CheckImage(image);
  ASSERT_TRUE(verdict.Ok()) << ImageRefusal(verdict);
  ASSERT_EQ(verdict.sections.sections.size(), 1u);
  EXPECT_EQ(verdict.sections.sections[0].number, 2);
  EXPECT_EQ(verdict.sections.groupStart, 32);
}

}  // namespace
