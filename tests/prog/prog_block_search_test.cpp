// After a failed verify or blank check, qs71prog names the failing 256-byte blocks: the real
// program against the emulated programmer, with cells that will not program and with parts
// that were not blank.

#include <gtest/gtest.h>

#include "file_contents.h"
#include "json_events.h"
#include "output_lines.h"
#include "prog_run.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace qs71prog::test {
namespace {

constexpr uint32_t kSmallPart = 262144;

std::string Block(uint32_t cell) {
  char text[32];
  const uint32_t start = cell / 256 * 256;
  std::snprintf(text, sizeof text, "\"0x%06X-0x%06X\"", start, start + 255);
  return text;
}

// The JSON member as the result event carries it: "blocks":["0x...-0x...",...].
std::string BlocksMember(const std::vector<uint32_t>& cells) {
  std::string member = "\"blocks\":[";
  for (size_t i = 0; i < cells.size(); ++i) member += (i == 0 ? "" : ",") + Block(cells[i]);
  return member + "]";
}

const JsonEvent& Result(const std::vector<JsonEvent>& events) { return events.back(); }

class ProgBlockSearch : public testing::Test {
 protected:
  void SetUp() override {
    dir = CleanScratchFolder(QS71_TEST_TMPDIR, testing::UnitTest::GetInstance()->current_test_info()->name());
    image = GeneratedImage(dir);
    ASSERT_FALSE(image.empty());
    bytes = ReadFileBytes(image);
    ASSERT_EQ(bytes.size(), kSmallPart);
    chip = (dir / "chip.otp").string();
  }

  // The first cell the image programs in each 256-byte block that it programs at all.
  std::vector<uint32_t> ProgrammedCells() const {
    std::vector<uint32_t> cells;
    for (uint32_t cell = 0; cell < bytes.size(); ++cell) {
      if (bytes[cell] != 0xFF && (cells.empty() || cells.back() / 256 != cell / 256)) {
        cells.push_back(cell);
      }
    }
    return cells;
  }

  std::filesystem::path dir;
  std::filesystem::path image;
  std::vector<uint8_t> bytes;
  std::string chip;
};

std::string StuckFaults(const std::vector<uint32_t>& cells) {
  std::string faults;
  for (uint32_t cell : cells) faults += (faults.empty() ? "stuck:" : ",stuck:") + std::to_string(cell);
  return faults;
}

TEST_F(ProgBlockSearch, NamesTheBlocksOfCellsThatWouldNotProgram) {
  const std::vector<uint32_t> programmed = ProgrammedCells();
  ASSERT_GE(programmed.size(), 22u) << "the demo image programs fewer blocks than this needs";
  const std::vector<uint32_t> twenty(programmed.begin(), programmed.begin() + 20);
  const struct {
    const char* name;
    std::vector<uint32_t> stuck;
    std::vector<uint32_t> named;  // a cell of each block named
    bool complete;
    bool keptInFile;
  } cases[] = {
      {"one cell, fresh part each call", {programmed[3]}, {programmed[3]}, true, false},
      {"two cells", {programmed[1], programmed[9]}, {programmed[1], programmed[9]}, true, true},
      {"two cells in one block", {programmed[5], programmed[5] + 1}, {programmed[5]}, true, true},
      {"twenty cells", twenty, {twenty.begin(), twenty.begin() + 16}, false, true},
      {"a table of the system area", {programmed.back()}, {programmed.back()}, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(chip);
    const std::string emulate = c.keptInFile ? "--emulate=" + chip : "--emulate";
    const ProcessResult run = RunProg({emulate, "--write", image.string(), "--json"},
                                {{"QS71_EMU_FAULTS", StuckFaults(c.stuck)}});
    EXPECT_EQ(run.exitCode, 8) << run.err;
    const std::vector<JsonEvent> events = ParseEvents(run.out);
    ASSERT_FALSE(events.empty());
    const JsonEvent& result = Result(events);
    EXPECT_EQ(result.Text("event"), "result");
    EXPECT_NE(result.line.find(BlocksMember(c.named)), std::string::npos) << result.line;
    EXPECT_NE(result.line.find(std::string("\"blocks_complete\":") +
                               (c.complete ? "true" : "false")),
              std::string::npos)
        << result.line;
  }
}

TEST_F(ProgBlockSearch, TellsAPersonWhereTheVerifyFailed) {
  const std::vector<uint32_t> programmed = ProgrammedCells();
  const ProcessResult run = RunProg({"--emulate=" + chip, "--write", image.string()},
                              {{"QS71_EMU_FAULTS", StuckFaults({programmed[2], programmed[7]})}});
  EXPECT_EQ(run.exitCode, 8);
  std::string named = Block(programmed[2]) + ", " + Block(programmed[7]);
  std::erase(named, '"');
  EXPECT_NE(run.err.find("qs71prog: the part differs in 2 blocks of 256 bytes: " + named + "\n"),
            std::string::npos)
      << run.err;
}

// A part that was not blank: cells programmed in the main area (-57), or a byte of the system
// area that a blank part has erased (-56).
TEST_F(ProgBlockSearch, NamesTheBlocksThatAreNotBlank) {
  const struct {
    const char* name;
    std::vector<uint32_t> programmed;
  } cases[] = {
      {"main area", {0x2345, 0x30000, 0x300FF}},
      {"system area", {kSmallPart - 200}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(chip);
    ASSERT_EQ(RunProg({"--emulate=" + chip, "--identify"}).exitCode, 0);
    std::vector<uint8_t> part = ReadFileBytes(chip);
    ASSERT_EQ(part.size(), kSmallPart);
    for (uint32_t cell : c.programmed) part[cell] = 0x00;
    ASSERT_TRUE(testwav::WriteFile(chip, part));
    const ProcessResult run = RunProg({"--emulate=" + chip, "--blank-check", "--json"});
    EXPECT_EQ(run.exitCode, 6) << run.err;
    const std::vector<JsonEvent> events = ParseEvents(run.out);
    ASSERT_FALSE(events.empty());
    std::vector<uint32_t> named = c.programmed;
    if (named.size() == 3) named.pop_back();  // the last two share a block
    EXPECT_NE(Result(events).line.find(BlocksMember(named)), std::string::npos)
        << Result(events).line;
    EXPECT_EQ(ReadFileBytes(chip), part) << "locating only compares";
  }
}

// Only a difference is located: a write that failed has nothing to compare. A line that
// scraps failed parts anyway skips the search with --no-locate.
TEST_F(ProgBlockSearch, OtherFailuresAndNoLocateAreNotLocated) {
  const std::string stuck = StuckFaults({ProgrammedCells()[0]});
  const struct {
    std::vector<std::string> arguments;
    const char* faults;
    int exit;
  } runs[] = {
      {{"--emulate", "--write", image.string(), "--json"}, "wrong-status:0x75", 7},
      {{"--emulate", "--write", image.string(), "--json", "--no-locate"}, stuck.c_str(), 8},
  };
  for (const auto& r : runs) {
    const ProcessResult run = RunProg(r.arguments, {{"QS71_EMU_FAULTS", r.faults}});
    EXPECT_EQ(run.exitCode, r.exit);
    EXPECT_EQ(run.out.find("\"blocks\""), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("locating"), std::string::npos) << run.out;
  }
}

}  // namespace
}  // namespace qs71prog::test
