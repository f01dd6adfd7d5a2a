#include "job/preflight.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "format_test_support.h"

namespace qs71prog {
namespace {

enum class Bytes { kImage, kZeros };

struct JudgeCase {
  const char* name;
  Bytes bytes;
  int32_t size;
  bool force;
  ExitCode exit;
  const char* text;  // part of the problem, or of the note when the image passes
};

// What is judged on the bytes: the size first, which --force never waives, then the content.
const JudgeCase kJudged[] = {
    {"Image", Bytes::kImage, 0x40000, false, ExitCode::kOk, ""},
    {"LargestImage", Bytes::kImage, 0x200000, false, ExitCode::kOk, ""},
    {"Zeros", Bytes::kZeros, 0x80000, false, ExitCode::kNotAnImage,
     "v.bin is not a QS71 image: no tag 5A A5 at TagPos (0x07FFBE holds 00 00); --force"},
    {"ZerosForced", Bytes::kZeros, 0x80000, true, ExitCode::kOk,
     "--force: v.bin is not a QS71 image"},
    {"ImageOfNoPart", Bytes::kImage, 0x10000, false, ExitCode::kImageSize,
     "v.bin is 65536 bytes; a QS71 part holds 262144, 524288, 1048576 or 2097152"},
    {"ForcedOfNoPart", Bytes::kZeros, 0x40001, true, ExitCode::kImageSize, "262145 bytes"},
};

TEST(Preflight, JudgesTheSizeThenTheContent) {
  for (const JudgeCase& c : kJudged) {
    const std::vector<uint8_t> bytes = c.bytes == Bytes::kImage
                                           ? imagetest::BlankImage(c.size)
                                           : std::vector<uint8_t>(static_cast<size_t>(c.size), 0);
    const Preflight result = JudgeImage("v.bin", bytes, c.force);
    EXPECT_EQ(result.exit, c.exit) << c.name << ": " << result.problem;
    const std::string& text = c.exit == ExitCode::kOk ? result.note : result.problem;
    EXPECT_NE(text.find(c.text), std::string::npos) << c.name << ": " << text;
    if (std::string(c.text).empty()) {
      EXPECT_EQ(result.note, "") << c.name;
    }
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
