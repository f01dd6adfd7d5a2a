// The look at the image before the programmer is touched: every file that is not an image is
// refused with its own exit code and reason, and the chip and the wire stay as they were;
// --force takes a file of a part's size as it is, unless it would clear a factory cell.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>

#include "file_contents.h"
#include "json_events.h"
#include "output_lines.h"
#include "prog_run.h"
#include "system_area.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace qs71prog::test {
namespace {

constexpr size_t kSmallPart = 262144;

enum class Input {
  kZeros,
  kZerosKeepingFactoryCells,
  kRandom,
  kRandomKeepingFactoryCells,
  kWavSlice,
  kWholeWav,
  kFailedCompile,
  kFailedSecondPass,
  kTrimEdited,
  kFillOverGroups,
  kFillOverSections,
  kHugeSparse,
  kMissing,
  kFolder
};

void Write(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The bits a write must leave at 1 in the system area set, the rest as it was.
std::vector<uint8_t> KeepingFactoryCells(std::vector<uint8_t> bytes) {
  const std::vector<uint8_t> block(bytes.end() - qs71::kSystemAreaSize, bytes.end());
  const bool secondStage = qs71::SecondStageOf(block);
  for (uint32_t k = 1; k <= qs71::kSystemAreaSize; ++k) bytes[bytes.size() - k] |= qs71::PartBits(k, secondStage);
  return bytes;
}

std::vector<uint8_t> RandomBytes() {
  std::mt19937 random(17);
  std::vector<uint8_t> bytes(kSmallPart);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// A recording longer than the part: 400044 bytes with its header.
std::vector<uint8_t> Recording() {
  const testwav::Signal sweep{testwav::Shape::Sweep, 100, 6000, 0.5, 1};
  return testwav::EncodeWav(testwav::MakeSamples(sweep, 200000, 16000), {16000, 16, 1});
}

// The demo project, changed, compiled by qs71gen. With failed set the compile must fail, and
// the image it had begun is kept with --failed-image; otherwise it must succeed.
struct DemoChange {
  const char* lines = "";    // appended to the script
  const char* removed = "";  // a recording taken away
  bool failed = false;
};

std::filesystem::path CompileDemo(const std::filesystem::path& dir, const DemoChange& change) {
  const std::filesystem::path project = dir / "project";
  std::filesystem::copy(QS71_EXAMPLES_DIR, project, std::filesystem::copy_options::recursive);
  if (*change.removed != '\0') std::filesystem::remove(project / "sounds" / change.removed);
  std::ofstream(project / "demo.qs", std::ios::binary | std::ios::app) << change.lines;
  const std::filesystem::path image = dir / (change.failed ? "leftover.bin" : "input.bin");
  const std::string command = "cd '" + project.string() + "' && '" QS71GEN_PATH "' " +
                              (change.failed ? "--failed-image '" + image.string() + "' " : "") +
                              "demo.qs '" + (dir / "input.bin").string() + "' >/dev/null 2>&1";
  if ((std::system(command.c_str()) != 0) != change.failed) return {};
  return image;
}

// A file of 100 GiB that takes no room: only its size may be looked at.
std::filesystem::path HugeSparse(const std::filesystem::path& path) {
  std::ofstream(path, std::ios::binary).put('\0');
  std::error_code error;
  std::filesystem::resize_file(path, uint64_t{100} << 30, error);
  return error ? std::filesystem::path() : path;
}

std::filesystem::path MakeInput(Input input, const std::filesystem::path& dir) {
  const std::filesystem::path path = dir / "input.bin";
  switch (input) {
    case Input::kZeros:
      Write(path, std::vector<uint8_t>(kSmallPart, 0x00));
      break;
    case Input::kZerosKeepingFactoryCells:
      Write(path, KeepingFactoryCells(std::vector<uint8_t>(kSmallPart, 0x00)));
      break;
    case Input::kRandom:
      Write(path, RandomBytes());
      break;
    case Input::kRandomKeepingFactoryCells:
      Write(path, KeepingFactoryCells(RandomBytes()));
      break;
    case Input::kWavSlice: {
      std::vector<uint8_t> wav = Recording();
      wav.resize(kSmallPart);
      Write(path, wav);
      break;
    }
    case Input::kWholeWav:
      Write(path, Recording());
      break;
    case Input::kFailedCompile:
      return CompileDemo(dir, {.removed = "chime.wav", .failed = true});
    case Input::kFailedSecondPass:
      // One address byte cannot reach the sounds behind the tables.
      return CompileDemo(dir, {.lines = ".GLOBAL $GRPADR = 1\n", .failed = true});
    case Input::kTrimEdited: {
      const std::filesystem::path image = CompileDemo(dir, {});
      if (image.empty()) return image;
      std::vector<uint8_t> bytes = ReadFileBytes(image);
      bytes[bytes.size() - 63] = 0x00;
      Write(image, bytes);
      return image;
    }
    case Input::kFillOverGroups:  // ends section 1's group table at its first entry
      return CompileDemo(dir, {.lines = ".GLOBAL $FILL = \"20:80\"\n"});
    case Input::kFillOverSections:  // section 2's entry
      return CompileDemo(dir, {.lines = ".GLOBAL $FILL = \"14:00_00_00_00\"\n"});
    case Input::kHugeSparse:
      return HugeSparse(path);
    case Input::kMissing:
      break;
    case Input::kFolder:
      std::filesystem::create_directories(path);
      break;
  }
  return path;
}

class Preflight : public testing::Test {
 protected:
  // A chip file from a first dry run, to compare against after the refused one.
  void Prepare(const std::string& name) {
    dir = CleanScratchFolder(QS71_TEST_TMPDIR, "preflight_" + name);
    chip = (dir / "chip.otp").string();
    transcript = (dir / "wire.txt").string();
    ASSERT_EQ(RunProg({"--emulate=" + chip, "--identify"}).exitCode, 0);
    chipBefore = ReadFileBytes(chip);
    ASSERT_FALSE(chipBefore.empty());
  }

  ProcessResult Run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--emulate=" + chip, "--transcript", transcript});
    return RunProg(arguments);
  }

  std::filesystem::path dir;
  std::string chip;
  std::string transcript;
  std::vector<uint8_t> chipBefore;
};

struct RefusalCase {
  const char* name;
  Input input;
  int exit;
  const char* status;
  const char* reason;  // part of the closing line
  bool force = false;
};

constexpr char kTrimRefusal[] =
    "input.bin would clear the part's factory trim at 0x03FFC1 (k = 63, image byte 00): the "
    "image is wrong, not the chip; rebuild it without writing the system area's factory cells";

const RefusalCase kRefusals[] = {
    {"ZeroFilled", Input::kZeros, 11, "not-an-image",
     "input.bin is not a QS71 image: no tag 5A A5 at TagPos (0x03FFBE holds 00 00)"},
    {"RandomBytes", Input::kRandom, 11, "not-an-image", "is not a QS71 image: no tag 5A A5"},
    {"WavSlice", Input::kWavSlice, 11, "not-an-image", "is not a QS71 image: no tag 5A A5"},
    {"FailedCompile", Input::kFailedCompile, 11, "not-an-image",
     "leftover.bin is not a QS71 image: no tag 5A A5 at TagPos (0x03FFBE holds FF FF)"},
    {"WholeWav", Input::kWholeWav, 5, "image-size",
     "input.bin is 400044 bytes; a QS71 part holds 262144, 524288, 1048576 or 2097152"},
    {"FailedSecondPass", Input::kFailedSecondPass, 11, "not-an-image",
     "leftover.bin is not a QS71 image: inconsistent group entries"},
    {"TrimEdited", Input::kTrimEdited, 11, "not-an-image", kTrimRefusal},
    {"TrimEditedForced", Input::kTrimEdited, 11, "not-an-image", kTrimRefusal, true},
    {"ZerosForced", Input::kZeros, 11, "not-an-image",
     "input.bin would clear the part's factory trim at 0x03FFBE (k = 66, image byte 00, which spoils the tag 5A A5)", true},
    {"FillOverGroups", Input::kFillOverGroups, 11, "not-an-image",
     "input.bin is not a QS71 image: inconsistent group entries (section 2 names its group "
     "table at 0x000038, but the tables before it end at 0x000028"},
    {"FillOverSections", Input::kFillOverSections, 11, "not-an-image",
     "input.bin is not a QS71 image: the section table does not read (section 2 at 0x000014"},
    {"HugeSparse", Input::kHugeSparse, 5, "image-size",
     "input.bin is 107374182400 bytes; a QS71 part holds"},
    {"Missing", Input::kMissing, 9, "file-error", "cannot open the image "},
    {"Folder", Input::kFolder, 9, "file-error", "input.bin is a folder, not an image file"},
};

class Refusal : public Preflight, public testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, LeavesTheChipAndTheWireUntouched) {
  const RefusalCase& c = GetParam();
  Prepare(c.name);
  const std::filesystem::path input = MakeInput(c.input, dir);
  ASSERT_FALSE(input.empty());

  const std::vector<std::string> force = c.force ? std::vector<std::string>{"--force"}
                                                 : std::vector<std::string>{};
  std::vector<std::string> arguments = {"--write", input.string()};
  arguments.insert(arguments.end(), force.begin(), force.end());
  const ProcessResult write = Run(arguments);
  EXPECT_EQ(write.exitCode, c.exit) << write.out << write.err;
  EXPECT_NE(write.err.find(c.reason), std::string::npos) << write.err;
  EXPECT_NE(write.err.find("exit " + std::to_string(c.exit) + " (" + c.status + ")"),
            std::string::npos)
      << write.err;

  arguments = {"--verify", input.string(), "--json"};
  arguments.insert(arguments.end(), force.begin(), force.end());
  const ProcessResult verify = Run(arguments);
  const std::vector<JsonEvent> events = ParseEvents(verify.out);
  ASSERT_EQ(events.size(), 1u) << verify.out;
  EXPECT_EQ(events[0].Text("status"), c.status);
  EXPECT_EQ(events[0].Number("exit"), c.exit);

  EXPECT_EQ(ReadFileBytes(chip), chipBefore) << "the chip file changed";
  EXPECT_EQ(ReadFileText(transcript), "") << "a report reached the programmer";
}

INSTANTIATE_TEST_SUITE_P(Files, Refusal, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<RefusalCase>& info) {
                           return std::string(info.param.name);
                         });

struct ForcedCase {
  const char* name;
  Input input;
  std::vector<std::string> extra;
  int exit;
};

// Written as they are, with the bits a part must keep left at 1 as --force needs them. A
// random system area then asks for bits the part's own cells cannot hold (its tag), so the
// verify finds the part differing from the file (exit 8), not an invalid chip.
const ForcedCase kForced[] = {
    {"ZeroFilled", Input::kZerosKeepingFactoryCells, {"--no-verify"}, 0},
    {"RandomBytes", Input::kRandomKeepingFactoryCells, {}, 8},
};

class Forced : public Preflight, public testing::WithParamInterface<ForcedCase> {};

TEST_P(Forced, WritesTheFileAsItIs) {
  const ForcedCase& c = GetParam();
  Prepare(std::string("forced_") + c.name);
  const std::filesystem::path input = MakeInput(c.input, dir);
  std::vector<std::string> arguments = {"--write", input.string(), "--force"};
  arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
  const ProcessResult run = Run(arguments);
  EXPECT_EQ(run.exitCode, c.exit) << run.out << run.err;
  EXPECT_NE(run.err.find("--force: " + input.string() + " is not a QS71 image"), std::string::npos)
      << run.err;
  const std::vector<uint8_t> written = ReadFileBytes(input);
  const std::vector<uint8_t> cells = ReadFileBytes(chip);
  ASSERT_EQ(cells.size(), written.size());
  const size_t mainArea = kSmallPart - 512;
  EXPECT_TRUE(std::equal(written.begin(), written.begin() + mainArea, cells.begin()))
      << "the main area holds what the file holds";
  EXPECT_NE(ReadFileText(transcript), "");
}

INSTANTIATE_TEST_SUITE_P(Files, Forced, testing::ValuesIn(kForced),
                         [](const testing::TestParamInfo<ForcedCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace qs71prog::test
