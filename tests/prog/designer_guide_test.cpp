// The designer's guide's walk-through, run as the guide shows it: its files written and its
// commands run in the order the guide gives them, on studio-like takes made here, through to a
// part on the emulated programmer. The guide is read at run time, so that a change to its text
// is a change to this test and the walk-through cannot drift from what the programs do.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>

#include "file_contents.h"
#include "output_lines.h"
#include "process_runner.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace qs71prog::test {
namespace {

constexpr size_t kMostCommands = 5;

// A fenced block of the walk-through, by its info string: "sh" holds commands, one a line;
// "output" holds lines the command before it prints, "output FILE" lines of a file it wrote;
// "LANGUAGE FILE" is a file as the designer writes it.
struct Block {
  std::string info;
  std::string text;
};

// The blocks of the section under heading, in order. A block inside a list item is indented
// as its fence is; that indent is not part of its text.
std::vector<Block> WalkThroughBlocks(const std::string& guide, const std::string& heading) {
  std::vector<Block> blocks;
  const size_t start = guide.find("\n" + heading + "\n");
  if (start == std::string::npos) return blocks;
  const size_t end = guide.find("\n## ", start + 1);
  std::istringstream section(guide.substr(start, end == std::string::npos ? end : end - start));
  size_t indent = 0;
  bool inside = false;
  for (std::string line; std::getline(section, line);) {
    const size_t fence = line.find("```");
    if (fence == std::string::npos) {
      if (inside) {
        const size_t text = std::min({indent, line.find_first_not_of(' '), line.size()});
        blocks.back().text += line.substr(text) + "\n";
      }
      continue;
    }
    if (!inside) blocks.push_back({line.substr(fence + 3), ""});
    indent = fence;
    inside = !inside;
  }
  return blocks;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream stream(line.substr(0, line.find(" #")));
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

// The guide's programs are the build's.
std::string ProgramPath(const std::string& name) {
  return name == "qs71gen"    ? QS71GEN_PATH
         : name == "qs71prog" ? QS71PROG_PATH
         : name == "qs71dump" ? QS71DUMP_PATH
                              : "";
}

// A studio take: a voice (harmonics of a gliding pitch up to 4 kHz and breath noise, in
// syllables) or a tune, at the level it was recorded at, with the room's silence around it and
// a hum under the whole take.
struct Take {
  const char* file;
  const char* container;
  testwav::Format format;
  double seconds;      // of the voice or tune
  double pitch;        // Hz
  double syllables;    // a second; 0 for a tune
  double level;        // of full scale
  double lead, trail;  // seconds of silence
  double hum;          // a 50 Hz rumble, of full scale
};

std::vector<int32_t> TakeSamples(const Take& take) {
  const double rate = take.format.rate;
  const size_t frames = static_cast<size_t>((take.lead + take.seconds + take.trail) * rate);
  std::vector<int32_t> samples(frames);
  double phase = 0;
  uint32_t noise = 1;
  double breath = 0;  // the noise through a gentle low-pass: a microphone's air, not hiss
  for (size_t i = 0; i < frames; ++i) {
    const double t = i / rate;
    const double s = t - take.lead;
    double value = 0;
    if (s >= 0 && s < take.seconds) {
      const double pitch = take.pitch * (1 + 0.2 * std::sin(2 * std::numbers::pi * 0.7 * s));
      phase += 2 * std::numbers::pi * pitch / rate;
      for (int k = 1; k * pitch < 4000; ++k) value += std::sin(k * phase) / (k * std::sqrt(k));
      noise = noise * 1664525u + 1013904223u;
      breath += (noise / 2147483648.0 - 1 - breath) * 0.1;
      value += 0.05 * breath;
      const double envelope = take.syllables > 0
                                  ? std::abs(std::sin(std::numbers::pi * take.syllables * s))
                                  : std::min(1.0, std::min(s, take.seconds - s) * 20);
      value *= take.level * envelope / 2;
    }
    value += take.hum * std::sin(2 * std::numbers::pi * 50 * t);
    samples[i] = static_cast<int32_t>(std::lround(value * 32767));
  }
  return samples;
}

// The takes the walk-through's script names: 48 kHz 24-bit and 44.1 kHz float stereo WAV and a
// 44.1 kHz FLAC, far apart in level, with silence around them and rumble under two; 18 seconds
// in all, so that the part holds them only at lower rates or in fewer bytes than PCM16's and
// the fit has a choice to make.
const Take kTakes[] = {
    {"takes/hello.wav", "wav", {.rate = 48000, .bits = 24, .channels = 2}, 1.5, 180, 3, 0.08, 0.4, 0.3, 0.01},
    {"takes/story.wav", "wav", {.rate = 44100, .bits = 32, .channels = 2, .tag = 3},
     12, 120, 4, 0.5, 0.2, 0.5, 0.02},
    {"takes/song.flac", "flac", {.rate = 44100, .bits = 16, .channels = 2}, 3, 110, 0, 0.7, 0.05, 0.1, 0},
};

class DesignerGuide : public testing::Test {
 protected:
  void SetUp() override {
    dir = CleanScratchFolder(QS71_TEST_TMPDIR,
                             testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir / "takes");
    for (const Take& take : kTakes) {
      ASSERT_TRUE(testwav::WriteSoundFile((dir / take.file).string(), TakeSamples(take),
                                          take.format, take.container))
          << take.file;
    }
  }

  std::filesystem::path dir;
};

TEST_F(DesignerGuide, TheWalkThroughGetsFromTakesToAVerifiedPart) {
  const std::vector<Block> blocks = WalkThroughBlocks(ReadFileText(QS71_DESIGNER_GUIDE),
                                                      "## From studio takes to a verified part");
  ASSERT_FALSE(blocks.empty()) << "the designer's guide has lost its walk-through";
  size_t commands = 0;
  std::vector<std::string> chip;  // the command that wrote the part
  testsupport::ProcessResult last;
  for (const Block& block : blocks) {
    const std::vector<std::string> info = Words(block.info);
    if (!info.empty() && info[0] == "output") {
      // Lines the command before printed, or that a file it wrote holds: the guide's figures.
      const std::string printed = info.size() == 2 ? ReadFileText(dir / info[1]) : last.out;
      for (const std::string& line : Lines(block.text)) {
        EXPECT_NE(printed.find(line + "\n"), std::string::npos)
            << "the guide shows\n" << line << "\nwhere the program wrote\n" << printed;
      }
    } else if (info.size() == 2) {
      std::ofstream(dir / info[1], std::ios::binary) << block.text;
    } else {
      ASSERT_EQ(block.info, "sh") << "a block of the walk-through is neither a file, commands nor output";
      for (const std::string& line : Lines(block.text)) {
        std::vector<std::string> command = Words(line);
        if (command.empty()) continue;
        SCOPED_TRACE(line);
        ++commands;
        const std::string program = command.front();
        command.front() = ProgramPath(program);
        ASSERT_FALSE(command.front().empty()) << program << " is not one of the project's programs";
        if (std::find(command.begin(), command.end(), "--write") != command.end()) chip = command;
        last = testsupport::RunProcess(command, {.folder = dir});
        ASSERT_EQ(last.exitCode, 0) << last.out << last.err;
      }
    }
  }
  EXPECT_LE(commands, kMostCommands);
  // The part holds the image: a verify of its own, on the chip file the write left.
  ASSERT_FALSE(chip.empty()) << "the walk-through writes no part";
  std::vector<std::string> verify = chip;
  *std::find(verify.begin(), verify.end(), "--write") = "--verify";
  ASSERT_TRUE(std::any_of(verify.begin(), verify.end(),
                          [](const std::string& w) { return w.rfind("--emulate=", 0) == 0; }))
      << "the walk-through's part must be an emulated chip file";
  const testsupport::ProcessResult verified = testsupport::RunProcess(verify, {.folder = dir});
  EXPECT_EQ(verified.exitCode, 0) << verified.out << verified.err;
}

}  // namespace
}  // namespace qs71prog::test
