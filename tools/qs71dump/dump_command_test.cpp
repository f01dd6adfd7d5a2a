// qs71dump run in process: exit codes and messages for files that are not images, and no
// crash on damaged or random bytes.

#include "dump_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "dump_result.h"
#include "file_contents.h"
#include "format_test_support.h"
#include "image_map.h"
#include "sound_extract.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace {

std::string TempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::filesystem::path dir = ScratchFolder(QS71_TEST_TMPDIR, "command");
  const std::filesystem::path path = dir / name;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

std::vector<uint8_t> TwoSectionImage() {
  auto image = imagetest::BlankImage(0x1000);
  imagetest::PutSections(image, {{1, {{0x02, 63, 0, 99}}}, {3, {{0x00, 63, 0, 9}}}}, 3);
  return image;
}

struct RunCase {
  const char* name;
  std::vector<uint8_t> bytes;
  std::vector<std::string> extra;
  int exitCode;
  const char* err;
};

std::vector<RunCase> Cases() {
  auto damaged = TwoSectionImage();
  damaged[32] = 0x3F;
  return {
      {"empty", {}, {}, 3, "not an image: too small: "},
      {"short", std::vector<uint8_t>(511, 0xFF), {}, 3, "511 bytes; an image holds at least"},
      {"no_tag", std::vector<uint8_t>(4096, 0x00), {}, 3, "not an image: no tag 5A A5"},
      {"damaged", damaged, {}, 3, "inconsistent group entries"},
      {"good", TwoSectionImage(), {}, 0, ""},
      {"good_json", TwoSectionImage(), {"--json"}, 0, ""},
      {"wrong_grpadr", TwoSectionImage(), {"--grpadr", "1"}, 3, "inconsistent group entries"},
      {"bad_option", TwoSectionImage(), {"--grpadr"}, 1, "usage: --grpadr needs a value"},
  };
}

TEST(RunDump, ExitCodesAndMessages) {
  for (const RunCase& c : Cases()) {
    std::vector<std::string> args = {TempFile(c.name, c.bytes)};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    DumpOutput output;
    EXPECT_EQ(RunDump(args, &output), c.exitCode) << c.name << ": " << output.err;
    EXPECT_NE(output.err.find(c.err), std::string::npos) << c.name << ": " << output.err;
    // A failure prints nothing on standard output, so that --json never gives half a document.
    EXPECT_EQ(output.out.empty(), c.exitCode != 0) << c.name;
  }
}

TEST(RunDump, AMissingFileIsAReadError) {
  DumpOutput output;
  EXPECT_EQ(RunDump({"/nonexistent/image.bin"}, &output), 2);
  EXPECT_EQ(output.err.rfind("qs71dump: cannot read the image: /nonexistent/image.bin: ", 0), 0u)
      << output.err;
}

TEST(RunDump, JsonIsOneDocument) {
  DumpOutput output;
  ASSERT_EQ(RunDump({TempFile("json", TwoSectionImage()), "--json"}, &output), 0);
  EXPECT_EQ(output.out.front(), '{');
  EXPECT_EQ(output.out.substr(output.out.size() - 2), "}\n");
  EXPECT_NE(output.out.find("\"grpadr\": 3,"), std::string::npos);
}

// One section with one link, written with GrpAdr 2: GrpAdr 1, tried first, reads it too (as a
// shorter sound). The report stays the one of the first that reads; standard error
// says which others fit, unless --grpadr settled it.
TEST(RunDump, WarnsWhenAnotherGrpAdrReadsTheTablesToo) {
  auto bytes = imagetest::BlankImage(0x1000);
  imagetest::PutSections(bytes, {{1, {{0x02, 63, 0, 499}}}}, 3, 2);
  const std::string image = TempFile("ambiguous", bytes);
  DumpOutput detected;
  DumpOutput given;
  ASSERT_EQ(RunDump({image}, &detected), 0) << detected.err;
  ASSERT_EQ(RunDump({image, "--grpadr", "1"}, &given), 0) << given.err;
  EXPECT_EQ(detected.err, "qs71dump: warning: " + image +
                              ": read with GrpAdr 1, but GrpAdr 2 also reads every group "
                              "entry consistently; give --grpadr with the value of the script's "
                              "$GRPADR (qs71gen) if it was not 1\n");
  EXPECT_EQ(given.err, "");
  std::string expected = given.out;
  const std::string read = "Read with GrpAdr 1 (";
  ASSERT_NE(expected.find(read + "given)"), std::string::npos) << expected;
  expected.replace(expected.find(read + "given)"), read.size() + 6, read + "detected)");
  EXPECT_EQ(detected.out, expected);
}

std::string FirstWavName(const std::vector<uint8_t>& image) {
  ImageMap map;
  std::string problem;
  EXPECT_EQ(BuildImageMap(image, DumpSettings{}, &map, &problem), DumpOk) << problem;
  return map.sounds.empty() ? "none" : WavName(map.sounds.front());
}

// What the extraction folder holds, before the run, under the name of the first sound's file.
struct ExtractCase {
  const char* name;
  bool imageThere;  // the image itself; else a link to a file outside the folder
  bool pageThere;   // --html names it: nothing there, and no link
  int exitCode;
  const char* clash;
};

const ExtractCase kExtractCases[] = {
    {"link_out", false, false, 0, ""},  // the link is replaced; the file it led to stays as it was
    {"image_in", true, false, 2, "the image"},  // refused before anything is written
    {"page_in", false, true, 2, "the page"},    // the page would be renamed over, or over it
};

TEST(RunDump, ExtractionReplacesLinksAndNeverTheImage) {
  const std::vector<uint8_t> bytes = TwoSectionImage();
  for (const ExtractCase& c : kExtractCases) {
    const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, std::string("extract_") + c.name);
    const auto out = dir / "sounds";
    std::filesystem::create_directory(out);
    const auto wav = out / FirstWavName(bytes);
    const auto image = c.imageThere ? wav : dir / "image.bin";
    const auto outside = dir / "outside.txt";
    ASSERT_TRUE(testwav::WriteFile(image.string(), bytes));
    ASSERT_TRUE(testwav::WriteFile(outside.string(), {'k', 'e', 'e', 'p'}));
    std::error_code error;
    if (!c.imageThere && !c.pageThere) std::filesystem::create_symlink(outside, wav, error);
    if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
    std::vector<std::string> args{image.string(), "--extract", out.string()};
    if (c.pageThere) args.insert(args.end(), {"--html", wav.string()});
    DumpOutput output;
    EXPECT_EQ(RunDump(args, &output), c.exitCode) << c.name;
    EXPECT_EQ(ReadFileBytes(image), bytes) << c.name;
    EXPECT_EQ(ReadFileText(outside), "keep") << c.name;
    if (c.exitCode == 0) {
      EXPECT_FALSE(std::filesystem::is_symlink(wav)) << c.name;
      EXPECT_EQ(ReadFileText(wav).substr(0, 4), "RIFF") << c.name;
      continue;
    }
    EXPECT_EQ(output.err, "qs71dump: cannot write an extracted sound: " + wav.string() + ": is " +
                              c.clash + "; refusing to write a sound over it\n");
    EXPECT_EQ(output.out, "") << c.name;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out), {}), c.imageThere ? 1 : 0) << c.name;
  }
}

// Random bytes where the tables would be, in an image that carries the tag, and a good image
// with bytes of its tables changed one by one: every run ends with a report or a message.
TEST(RunDump, NeverCrashesOnDamagedTables) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> byte(0, 255);
  int reports = 0;
  for (int round = 0; round < 400; ++round) {
    auto image = round % 2 == 0 ? imagetest::BlankImage(0x1000) : TwoSectionImage();
    const int changes = round % 2 == 0 ? 96 : 1 + round % 4;
    std::uniform_int_distribution<int> pos(0, round % 2 == 0 ? 95 : 47);
    for (int i = 0; i < changes; ++i)
      image[static_cast<size_t>(pos(random))] = static_cast<uint8_t>(byte(random));
    DumpOutput output;
    const int status = RunDump({TempFile("fuzz", image)}, &output);
    ASSERT_TRUE(status == 0 || status == 3) << output.err;
    reports += status == 0;
  }
  EXPECT_GT(reports, 0);
}

}  // namespace
