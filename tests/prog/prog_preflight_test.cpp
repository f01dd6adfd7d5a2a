// The look at the image before the programmer is touched: every file that is not an image is
// refused with its own exit code and reason, and the chip and the wire stay as they were;
// --force takes a file of a part's size as it is.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>

#include "file_contents.h"
#include "json_events.h"
#include "output_lines.h"
#include "prog_run.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace qs71prog::test {
namespace {

constexpr size_t kSmallPart = 262144;

enum class Input { kZeros, kRandom, kWavSlice, kWholeWav, kFailedCompile, kMissing, kFolder };

void Write(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
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

// The demo project without one of its recordings: qs71gen fails in its first pass and, asked
// to, keeps the image it had begun.
std::filesystem::path FailedCompile(const std::filesystem::path& dir) {
  const std::filesystem::path project = dir / "project";
  std::filesystem::copy(QS71_EXAMPLES_DIR, project, std::filesystem::copy_options::recursive);
  std::filesystem::remove(project / "sounds" / "chime.wav");
  const std::filesystem::path leftover = dir / "leftover.bin";
  const std::string command = "cd '" + project.string() +
                              "' && '" QS71GEN_PATH "' --failed-image '" + leftover.string() +
                              "' demo.qs demo.bin >/dev/null 2>&1";
  if (std::system(command.c_str()) == 0) return {};
  return leftover;
}

std::filesystem::path MakeInput(Input input, const std::filesystem::path& dir) {
  const std::filesystem::path path = dir / "input.bin";
  switch (input) {
    case Input::kZeros:
      Write(path, std::vector<uint8_t>(kSmallPart, 0x00));
      break;
    case Input::kRandom:
      Write(path, RandomBytes());
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
      return FailedCompile(dir);
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
};

const RefusalCase kRefusals[] = {
    {"ZeroFilled", Input::kZeros, 11, "not-an-image",
     "input.bin is not a QS71 image: no tag 5A A5 at TagPos (0x03FFBE holds 00 00)"},
    {"RandomBytes", Input::kRandom, 11, "not-an-image", "is not a QS71 image: no tag 5A A5"},
    {"WavSlice", Input::kWavSlice, 11, "not-an-image", "is not a QS71 image: no tag 5A A5"},
    {"FailedCompile", Input::kFailedCompile, 11, "not-an-image",
     "leftover.bin is not a QS71 image: no tag 5A A5 at TagPos (0x03FFBE holds FF FF)"},
    {"WholeWav", Input::kWholeWav, 5, "image-size",
     "input.bin is 400044 bytes; a QS71 part holds 262144, 524288, 1048576 or 2097152"},
    {"Missing", Input::kMissing, 9, "file-error", "cannot open the image "},
    {"Folder", Input::kFolder, 9, "file-error", "input.bin is a folder, not an image file"},
};

class Refusal : public Preflight, public testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, LeavesTheChipAndTheWireUntouched) {
  const RefusalCase& c = GetParam();
  Prepare(c.name);
  const std::filesystem::path input = MakeInput(c.input, dir);
  ASSERT_FALSE(input.empty());

  const ProcessResult write = Run({"--write", input.string()});
  EXPECT_EQ(write.exitCode, c.exit) << write.out << write.err;
  EXPECT_NE(write.err.find(c.reason), std::string::npos) << write.err;
  EXPECT_NE(write.err.find("exit " + std::to_string(c.exit) + " (" + c.status + ")"),
            std::string::npos)
      << write.err;

  const ProcessResult verify = Run({"--verify", input.string(), "--json"});
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

// Written as they are. A random system area then breaks the chip's own rules, so the verify's
// connection refuses the part as a chip (exit 4), as it would refuse a real one.
const ForcedCase kForced[] = {
    {"ZeroFilled", Input::kZeros, {"--no-verify"}, 0},
    {"RandomBytes", Input::kRandom, {}, 4},
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
