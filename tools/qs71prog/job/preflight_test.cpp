#include "job/preflight.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "format_test_support.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace qs71prog {
namespace {

enum class Bytes { kImage, kZeros, kTrimCleared, kNoSections };

struct JudgeCase {
  const char* name;
  Bytes bytes;
  int32_t size;
  bool force;
  ExitCode exit;
  const char* text;  // part of the problem, or of the note when the image passes
};

std::vector<uint8_t> Build(Bytes kind, int32_t size) {
  if (kind == Bytes::kZeros) return std::vector<uint8_t>(static_cast<size_t>(size), 0);
  std::vector<uint8_t> image = imagetest::BlankImage(size);
  if (kind != Bytes::kNoSections) imagetest::PutSections(image, {{1, {{0x03, 7, 0, 9}}}}, 1);
  if (kind == Bytes::kTrimCleared) image[static_cast<size_t>(size - 63)] = 0x00;
  return image;
}

constexpr char kTrimRefusal[] =
    "v.bin would clear the part's factory trim at 0x03FFC1 (k = 63, image byte 00): the image "
    "is wrong, not the chip; rebuild it without writing the system area's factory cells";

// What is judged on the bytes: the size first, which --force never waives, then the content.
const JudgeCase kJudged[] = {
    {"Image", Bytes::kImage, 0x40000, false, ExitCode::kOk, ""},
    {"LargestImage", Bytes::kImage, 0x200000, false, ExitCode::kOk, ""},
    {"Zeros", Bytes::kZeros, 0x80000, false, ExitCode::kNotAnImage,
     "v.bin is not a QS71 image: no tag 5A A5 at TagPos (0x07FFBE holds 00 00); --force"},
    // --force takes a file that is no image, but never clears a factory cell.
    {"ZerosForced", Bytes::kZeros, 0x80000, true, ExitCode::kNotAnImage,
     "v.bin would clear the part's factory trim at 0x07FFBE (k = 66, image byte 00, which spoils the tag 5A A5)"},
    {"NothingPlaysForced", Bytes::kNoSections, 0x40000, true, ExitCode::kOk,
     "--force: v.bin is not a QS71 image: no section plays"},
    {"ImageOfNoPart", Bytes::kImage, 0x10000, false, ExitCode::kImageSize,
     "v.bin is 65536 bytes; a QS71 part holds 262144, 524288, 1048576 or 2097152"},
    {"ForcedOfNoPart", Bytes::kZeros, 0x40001, true, ExitCode::kImageSize, "262145 bytes"},
    {"TrimCleared", Bytes::kTrimCleared, 0x40000, false, ExitCode::kNotAnImage, kTrimRefusal},
    {"TrimClearedForced", Bytes::kTrimCleared, 0x40000, true, ExitCode::kNotAnImage,
     kTrimRefusal},
    {"NothingPlays", Bytes::kNoSections, 0x40000, false, ExitCode::kNotAnImage,
     "v.bin is not a QS71 image: no section plays"},
};

TEST(Preflight, JudgesTheSizeThenTheContent) {
  for (const JudgeCase& c : kJudged) {
    const Preflight result = JudgeImage("v.bin", Build(c.bytes, c.size), c.force);
    EXPECT_EQ(result.exit, c.exit) << c.name << ": " << result.problem;
    const std::string& text = c.exit == ExitCode::kOk ? result.note : result.problem;
    EXPECT_NE(text.find(c.text), std::string::npos) << c.name << ": " << text;
    if (std::string(c.text).empty()) {
      EXPECT_EQ(result.note, "") << c.name;
    }
  }
}

// The rows above against the verdict the pre-flight had before the factory-cell rule: the trim
// rows are then taken, so they test that rule and nothing else.
TEST(Preflight, WithoutTheFactoryRuleTheTrimRowsPass) {
  for (const JudgeCase& c : kJudged) {
    if (c.bytes != Bytes::kTrimCleared) continue;
    ImageVerdict verdict = CheckImage(Build(c.bytes, c.size));
    ASSERT_EQ(verdict.problems.size(), 1u) << c.name << ": " << ImageRefusal(verdict);
    verdict.problems.clear();
    EXPECT_EQ(JudgeVerdict("v.bin", verdict, c.force).exit, ExitCode::kOk) << c.name;
  }
}

// The job hands the library exactly what was judged, so the result carries those bytes.
TEST(Preflight, KeepsTheBytesItJudged) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "preflight_bytes");
  Options options;
  options.image = (dir / "v.bin").string();
  for (const Bytes kind : {Bytes::kImage, Bytes::kTrimCleared}) {
    const std::vector<uint8_t> image = Build(kind, 0x40000);
    ASSERT_TRUE(testwav::WriteFile(dir / "v.bin", image));
    const Preflight result = PreflightImage(options);
    const bool taken = kind == Bytes::kImage;
    EXPECT_EQ(result.exit == ExitCode::kOk, taken) << result.problem;
    EXPECT_EQ(result.bytes, taken ? image : std::vector<uint8_t>()) << result.problem;
  }
}

TEST(Preflight, OnlyARegularFileIsOpened) {
  Options options;
  EXPECT_EQ(PreflightImage(options).exit, ExitCode::kOk) << "a run without an image";
  options.image = "/nonexistent/qs71/v.bin";
  Preflight result = PreflightImage(options);
  EXPECT_EQ(result.exit, ExitCode::kFileError);
  EXPECT_EQ(result.problem, "cannot open the image /nonexistent/qs71/v.bin: no such file");
  options.image = std::filesystem::temp_directory_path().string();
  options.force = true;
  result = PreflightImage(options);
  EXPECT_EQ(result.exit, ExitCode::kFileError);
  EXPECT_NE(result.problem.find("is a folder, not an image file"), std::string::npos)
      << result.problem;
}

}  // namespace
}  // namespace qs71prog
