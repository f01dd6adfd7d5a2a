// qs71prog against the emulated programmer: whole jobs, the chip kept in a file between runs,
// the JSON events, the transcript, and what a terminal and a log receive.

#include <gtest/gtest.h>

#include <map>

#include "file_contents.h"
#include "json_events.h"
#include "output_lines.h"
#include "prog_run.h"
#include "terminal_screen.h"
#include "test_scratch.h"

namespace qs71prog::test {
namespace {

constexpr size_t kSmallPart = 262144;

class ProgCycle : public testing::Test {
 protected:
  void SetUp() override {
    dir = CleanScratchFolder(QS71_TEST_TMPDIR,
                             testing::UnitTest::GetInstance()->current_test_info()->name());
    image = GeneratedImage(dir);
    ASSERT_FALSE(image.empty());
    ASSERT_EQ(ReadFileBytes(image).size(), kSmallPart);
    chip = (dir / "chip.otp").string();
  }

  std::filesystem::path dir;
  std::filesystem::path image;
  std::string chip;
};

size_t Find(const std::string& text, const std::string& what, size_t from = 0) {
  return text.find(what, from);
}

TEST_F(ProgCycle, WritesAGeneratedImageAndVerifiesItAgainLater) {
  const ProcessResult run = RunProg({"--emulate=" + chip, "--write", image.string()});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  // The library's lines, whole and in the order of its steps.
  const size_t blank = Find(run.out, "\nOTP blank check complete.\n");
  const size_t write = Find(run.out, "\nWrite OTP complete.\n", blank);
  const size_t verify = Find(run.out, "\nVerify OTP complete.\n", write);
  EXPECT_NE(blank, std::string::npos) << run.out;
  EXPECT_NE(write, std::string::npos) << run.out;
  EXPECT_NE(verify, std::string::npos) << run.out;
  EXPECT_NE(Find(run.out, "qs71prog: done: blank check, write, verify on a 262144-byte chip"),
            std::string::npos);

  // The chip in the file holds the image's main area; the system area keeps its factory
  // trims where the image has 0xFF.
  const std::vector<uint8_t> otp = ReadFileBytes(chip);
  const std::vector<uint8_t> bytes = ReadFileBytes(image);
  ASSERT_EQ(otp.size(), kSmallPart);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end() - 512, otp.begin()));

  const ProcessResult again = RunProg({"--emulate=" + chip, "--verify", image.string()});
  EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
  EXPECT_EQ(Find(again.out, "Write OTP complete."), std::string::npos);
}

TEST_F(ProgCycle, ASecondWriteOntoTheSameChipFailsItsBlankCheck) {
  ASSERT_EQ(RunProg({"--emulate=" + chip, "--write", image.string()}).exitCode, 0);
  const std::vector<uint8_t> programmed = ReadFileBytes(chip);
  const ProcessResult run = RunProg({"--emulate=" + chip, "--write", image.string()});
  EXPECT_EQ(run.exitCode, 6) << run.out << run.err;
  EXPECT_NE(Find(run.out, "[ERROR] OTP NOT blank!\n"), std::string::npos) << run.out;
  EXPECT_EQ(Find(run.out, "Import File:"), std::string::npos) << "the write must not start";
  EXPECT_NE(Find(run.err,
                 "qs71prog: failed in blank-check: the main area is not blank (-57); "
                 "exit 6 (not-blank)"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(ReadFileBytes(chip), programmed);
}

TEST_F(ProgCycle, ClearMarkerProgramsTheMarkerByteAndStillVerifies) {
  const std::vector<uint8_t> before = ReadFileBytes(image);
  const ProcessResult run =
      RunProg({"--emulate=" + chip, "--write", image.string(), "--clear-marker"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  const std::vector<uint8_t> otp = ReadFileBytes(chip);
  ASSERT_EQ(otp.size(), kSmallPart);
  EXPECT_EQ(otp[kSmallPart - 31], 0x00);
  EXPECT_EQ(ReadFileBytes(image), before) << "the image file itself is not changed";
  // Without the option the factory's unused marker stays.
  const std::string plain = (dir / "plain.otp").string();
  ASSERT_EQ(RunProg({"--emulate=" + plain, "--write", image.string()}).exitCode, 0);
  EXPECT_EQ(ReadFileBytes(plain)[kSmallPart - 31], 0x5A);
}

// "> " or "< " and the 64 payload bytes in lower-case hex, nothing else.
bool IsReportLine(const std::string& line) {
  if (line.size() != 130 || (line[0] != '>' && line[0] != '<') || line[1] != ' ') return false;
  return line.find_first_not_of("0123456789abcdef", 2) == std::string::npos;
}

TEST_F(ProgCycle, TranscriptRecordsEveryReport) {
  const std::string transcript = (dir / "wire.txt").string();
  const ProcessResult run =
      RunProg({"--emulate", "--transcript", transcript, "--write", image.string(), "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  const std::vector<uint8_t> bytes = ReadFileBytes(transcript);
  const std::vector<std::string> lines = Lines(std::string(bytes.begin(), bytes.end()));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().rfind("# emulated programmer attached", 0), 0u) << lines.front();
  std::map<std::string, int> requests;
  for (const std::string& line : lines) {
    if (line[0] == '#') continue;
    ASSERT_TRUE(IsReportLine(line)) << line;
    if (line[0] == '>') ++requests[line.substr(2, 2)];
  }
  EXPECT_EQ(requests["74"], 8192);      // the whole part, 32 bytes a report
  EXPECT_EQ(requests["7a"], 2 * 8176);  // blank check and verify of the main area
  // One call per step, each starting and stopping the OTP test: identify, blank check, write
  // and verify.
  EXPECT_EQ(requests["70"], 4);
  EXPECT_EQ(requests["71"], 4);
}

TEST_F(ProgCycle, WithoutATerminalProgressComesAsPlainLines) {
  const ProcessResult run = RunProg({"--emulate", "--write", image.string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.find('\r'), std::string::npos);
  // Each stage's done line follows the library's own word that the stage is complete.
  const std::pair<const char*, const char*> stages[] = {{"blank check", "OTP blank check complete."},
                                                        {"write", "Write OTP complete."},
                                                        {"verify", "Verify OTP complete."}};
  for (const auto& [stage, message] : stages) {
    const std::size_t done =
        run.out.find(std::string("\n") + stage + " 100%  address 0x03FFFF of 0x03FFFF  done in ");
    EXPECT_NE(done, std::string::npos) << stage << "\n" << run.out;
    EXPECT_LT(run.out.find(message), done) << stage << "\n" << run.out;
  }
  EXPECT_NE(run.err.find("qs71prog: dry run on the emulated programmer with a fresh blank chip"),
            std::string::npos);
}

// A 2 MiB part, paced so that its transfers last a few hundred milliseconds however fast or
// loaded the machine, and polled fast enough to see them move.
const Environment kPacedBigPart = {
    {"QS71_EMU_ID", "6D611600"}, {"QS71PROG_POLL_MS", "1"}, {"QS71_EMU_PACE_US", "2"}};

TEST_F(ProgCycle, OnATerminalTheBarNeverSharesALineWithAMessage) {
  const std::filesystem::path big = GeneratedImage(dir / "big", "200000h");
  ASSERT_FALSE(big.empty());
  const ProcessResult run =
      RunProgOnTerminal({"--emulate", "--write", big.string()},
                        kPacedBigPart, 100);
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_NE(run.out.find("\rwrite       ["), std::string::npos) << "no bar was drawn";
  const std::vector<std::string> screen = TerminalScreen(run.out);
  const std::vector<std::string> messages = {"OTP test started @ VDD=3.30V, VPP=3.30V.",
                                             "OTP size: 2097152 bytes.",
                                             "OTP blank check complete.",
                                             "OTP write in VPP=6.50V.",
                                             "Write OTP complete.",
                                             "Verify OTP complete.",
                                             "The OTP test stopped."};
  for (const std::string& message : messages) {
    EXPECT_NE(std::find(screen.begin(), screen.end(), message), screen.end()) << message << "\n"
                                                                              << run.out;
  }
  for (const std::string& line : screen) {
    const bool bar = line.find(" [") != std::string::npos;
    EXPECT_TRUE(!bar || line.find("] 100%  in ") != std::string::npos) << line;
  }
}

// Progress events of a 2 MiB part, polled fast enough to see the transfers move.
TEST_F(ProgCycle, JsonProgressGrowsWithinEachStageAndEndsAtTheLastAddress) {
  const std::filesystem::path big = GeneratedImage(dir / "big", "200000h");
  ASSERT_FALSE(big.empty());
  const ProcessResult run = RunProg({"--emulate", "--write", big.string(), "--json"},
                              kPacedBigPart);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<JsonEvent> events = ParseEvents(run.out);
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events.front().Text("event"), "start");
  std::vector<std::string> stages;
  std::map<std::string, int64_t> last;
  int midway = 0;
  for (const JsonEvent& event : events) {
    ASSERT_EQ(event.line.front(), '{') << event.line;
    ASSERT_EQ(event.line.back(), '}') << event.line;
    const std::string stage = event.Text("stage");
    if (event.Text("event") == "stage" && event.Text("state") == "began") stages.push_back(stage);
    if (event.Text("event") != "progress") continue;
    ASSERT_FALSE(stages.empty());
    EXPECT_EQ(stage, stages.back()) << "progress of a stage that is not the current one";
    const int64_t position = event.Number("progress");
    EXPECT_GT(position, last.count(stage) ? last[stage] : -1) << event.line;
    EXPECT_EQ(event.Number("size"), 2097152);
    EXPECT_EQ(event.Number("percent"), (position + 1) * 100 / 2097152) << event.line;
    last[stage] = position;
    midway += position < 2097151;
  }
  EXPECT_EQ(stages, (std::vector<std::string>{"blank-check", "write", "verify"}));
  for (const std::string& stage : stages) EXPECT_EQ(last[stage], 2097151) << stage;
  EXPECT_GT(midway, 0) << "no transfer was seen under way";
  const JsonEvent& result = events.back();
  EXPECT_EQ(result.Text("event"), "result");
  EXPECT_EQ(result.Number("exit"), 0);
  EXPECT_EQ(result.Number("result"), 0);
  EXPECT_EQ(result.Number("otp_size"), 2097152);
}

TEST_F(ProgCycle, JsonWrapsTheLibrarysLinesAsMessages) {
  const ProcessResult run = RunProg({"--emulate", "--blank-check", "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> texts;
  for (const JsonEvent& event : ParseEvents(run.out)) {
    if (event.Text("event") == "message" && event.Text("source") == "library") {
      texts.push_back(event.Text("text"));
    }
  }
  const std::vector<std::string> expected = {"OTP test started @ VDD=3.30V, VPP=3.30V.",
                                             "OTP ID: 0x6D, 0x61, 0x02, 0x00.",
                                             "OTP size: 262144 bytes.",
                                             "VDD adjusted @ VDD=5.06V, VPP=5.06V.",
                                             "OTP blank check complete.",
                                             "The OTP test stopped."};
  EXPECT_EQ(texts, expected);
}

}  // namespace
}  // namespace qs71prog::test
