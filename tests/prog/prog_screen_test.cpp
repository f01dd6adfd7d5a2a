// The production screen as an operator sees it: the real qs71prog --production on emulated
// programmers, in a terminal that tmux keeps (a server of this test's own, on a socket in its
// scratch folder), read back with capture-pane while the parts go through.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "csv_log.h"
#include "file_contents.h"
#include "output_lines.h"
#include "prog_run.h"
#include "test_scratch.h"

namespace qs71prog::test {
namespace {

// Wide enough for the longest tile line, tall enough for the tiles and the lines above them.
constexpr const char* kColumns = "120";
constexpr const char* kLines = "45";
// A part takes a few seconds at this pace, so that its steps stay on the screen long enough to
// be read; the bound on every wait is far beyond what a loaded machine needs.
constexpr const char* kPace = "150";
constexpr std::chrono::seconds kPatience{120};

// Every tile's first line: "programmer 1  PASS  part 2 ...", with the programmer's name in
// brackets once the run gives it.
std::vector<std::string> TileHeads(const std::string& screen) {
  static const std::regex kHead("^programmer [0-9]+( \\([^)]*\\))?(  |$)");
  std::vector<std::string> heads;
  for (const std::string& line : Lines(screen)) {
    if (std::regex_search(line, kHead)) heads.push_back(line);
  }
  return heads;
}

class ProgScreen : public testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::RunProcess({"tmux", "-V"}).exitCode != 0) GTEST_SKIP() << "no tmux here";
    dir = CleanScratchFolder(QS71_TEST_TMPDIR,
                             testing::UnitTest::GetInstance()->current_test_info()->name());
    image = GeneratedImage(dir / "gen");
    ASSERT_FALSE(image.empty());
    sockets = dir / "sockets";
    // The pane stays after qs71prog ends, so that its last screen can still be read; no user's
    // tmux configuration is read.
    std::ofstream(dir / "tmux.conf") << "set -g remain-on-exit on\nset -g status off\n";
  }

  void TearDown() override {
    if (started) Tmux({"kill-server"});
  }

  // Relative to the scratch folder: a socket's path must stay short.
  testsupport::ProcessResult Tmux(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"tmux", "-S", "tmux.sock", "-f", "tmux.conf"});
    return testsupport::RunProcess(arguments, {.folder = dir});
  }

  void MakeParts(const std::filesystem::path& folder, int count) {
    std::filesystem::create_directories(folder);
    for (int i = 1; i <= count; ++i) {
      const auto part = folder / ("part" + std::to_string(i) + ".otp");
      ASSERT_EQ(RunProg({"--emulate=" + part.string(), "--identify"}).exitCode, 0) << part;
    }
  }

  // qs71prog --production with these arguments, alone in a terminal of the fixed size.
  void Start(const std::vector<std::string>& arguments, int programmers = 1,
             const char* pace = kPace) {
    std::vector<std::string> command = {
        "new-session", "-d", "-s", "bench", "-x", kColumns, "-y", kLines,
        "env", "QS71_EMU_SOCKET=" + sockets.string(), "QS71_EMU_OPERATOR=0",
        std::string("QS71_EMU_PACE_US=") + pace,
        "QS71_EMU_PROGRAMMERS=" + std::to_string(programmers), "NO_COLOR=1",
        "XDG_STATE_HOME=" + (dir / "state").string(), QS71PROG_PATH, "--emulate", "--write",
        image.string(), "--production"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const testsupport::ProcessResult tmux = Tmux(command);
    ASSERT_EQ(tmux.exitCode, 0) << tmux.err;
    started = true;
  }

  std::string Screen() const { return Tmux({"capture-pane", "-p", "-t", "bench"}).out; }

  // The screen once it shows what is wanted, or the last one read when it never did.
  std::string WaitFor(const std::function<bool(const std::string&)>& wanted) const {
    const auto until = std::chrono::steady_clock::now() + kPatience;
    std::string screen = Screen();
    while (!wanted(screen) && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      screen = Screen();
    }
    return screen;
  }

  static std::function<bool(const std::string&)> Shows(const std::string& text) {
    return [text](const std::string& screen) { return screen.find(text) != std::string::npos; };
  }

  std::filesystem::path dir;
  std::filesystem::path image;
  std::filesystem::path sockets;
  bool started = false;
};

// The first part of the image that a part holds: a cell stuck there fails its verify.
uint32_t ProgrammedCell(const std::vector<uint8_t>& bytes) {
  for (uint32_t cell = 0; cell < bytes.size(); ++cell) {
    if (bytes[cell] != 0xFF) return cell;
  }
  return 0;
}

// While the next part is made no tile may still say FAIL or PASS of the last one: from across
// the bench "busy, don't touch" must not read as "needs you".
TEST_F(ProgScreen, ThePartUnderWayShowsBusyNotTheLastVerdict) {
  MakeParts(sockets, 2);
  std::ofstream(sockets / "part1.faults") << "stuck:" << ProgrammedCell(ReadFileBytes(image));
  Start({"--count", "2"});
  const std::string failed = WaitFor(Shows("programmer 1 part 1: FAIL"));
  ASSERT_NE(failed.find("programmer 1 part 1: FAIL"), std::string::npos) << failed;
  const std::string screen = WaitFor(Shows("| part 2: "));
  ASSERT_NE(screen.find("| part 2: "), std::string::npos) << screen;
  const std::vector<std::string> heads = TileHeads(screen);
  ASSERT_EQ(heads.size(), 1u) << screen;
  for (const char* verdict : {"FAIL", "PASS"}) {
    EXPECT_EQ(heads[0].find(verdict), std::string::npos) << screen;
  }
  EXPECT_NE(heads[0].find("part 2  do not touch"), std::string::npos) << screen;
}

// A part that sits crooked (its ID lines held low, 00 00 00 00) calls for the operator in big
// letters, not in the counters line alone under the last part's PASS.
TEST_F(ProgScreen, ACrookedPartShowsReseat) {
  MakeParts(sockets, 1);
  std::ofstream(sockets / "part1.faults")
      << "reply-byte:0x72:12:0 reply-byte:0x72:13:0 reply-byte:0x72:14:0 reply-byte:0x72:15:0";
  Start({"--count", "1"});
  const std::string told = WaitFor(Shows("no chip answers — reseat the part"));
  ASSERT_NE(told.find("no chip answers — reseat the part"), std::string::npos) << told;
  const std::string screen = WaitFor([](const std::string& shown) {
    const std::vector<std::string> heads = TileHeads(shown);
    return !heads.empty() && heads[0].find("  RESEAT  ") != std::string::npos;
  });
  const std::vector<std::string> heads = TileHeads(screen);
  ASSERT_EQ(heads.size(), 1u) << screen;
  EXPECT_NE(heads[0].find("  RESEAT  no chip answers — reseat the part"), std::string::npos)
      << screen;
}

// A part written with the verify off is no PASS anywhere on the screen.
TEST_F(ProgScreen, AnUnverifiedPartIsNeverAPass) {
  MakeParts(sockets, 1);
  Start({"--count", "1", "--no-verify"});
  const std::string screen = WaitFor(Shows("qs71prog: production ended"));
  ASSERT_NE(screen.find("qs71prog: production ended"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("PASS"), std::string::npos) << screen;
  const std::vector<std::string> heads = TileHeads(screen);
  ASSERT_EQ(heads.size(), 1u) << screen;
  EXPECT_NE(heads[0].find("  WRITTEN, NOT VERIFIED  part 1"), std::string::npos) << screen;
}

// The bench's clock as the log writes it, "2026-12-07T19:40:00.123Z", to compare with its rows.
std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                          now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return text;
}

// Output stopped with Ctrl-S for 30 s, three programmers at work: the terminal takes nothing,
// and every loop goes on. Each part is made and logged while the screen stands still, its row
// with the time it was made; Ctrl-Q brings the picture up to date.
TEST_F(ProgScreen, AStoppedTerminalStopsNoPart) {
  for (int k = 1; k <= 3; ++k) MakeParts(sockets / std::to_string(k), 2);
  const std::filesystem::path log = dir / "parts.csv";
  Start({"--all", "--count", "2", "--log", log.string()}, 3, "50");
  const std::string busy = WaitFor(Shows("do not touch"));
  ASSERT_NE(busy.find("do not touch"), std::string::npos) << busy;
  ASSERT_EQ(Tmux({"send-keys", "-t", "bench", "C-s"}).exitCode, 0);
  const auto stopped = std::chrono::steady_clock::now();
  const auto held = stopped + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < held &&
         (!std::filesystem::exists(log) || ReadLog(log).rows.size() < 6)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  std::this_thread::sleep_until(held);
  const std::string resumedAt = UtcNow();
  ASSERT_EQ(Tmux({"send-keys", "-t", "bench", "C-q"}).exitCode, 0);
  const std::string screen = WaitFor(Shows("qs71prog: production ended"));
  EXPECT_NE(screen.find("qs71prog: production ended (count reached): 6 passed, 0 failed"),
            std::string::npos)
      << screen;
  const CsvLog parts = ReadLog(log);
  ASSERT_EQ(parts.rows.size(), 6u);
  EXPECT_EQ(parts.started.size(), 6u);
  for (const auto& row : parts.rows) {
    EXPECT_EQ(row.at("result"), "pass");
    EXPECT_LT(row.at("time"), resumedAt) << "a part waited for the terminal";
  }
}

}  // namespace
}  // namespace qs71prog::test
