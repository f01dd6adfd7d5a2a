// One programmer, one loop: the real qs71prog against emulated programmers whose bus (the
// emulator's bus file) a test rewrites while the run goes on, and once against the production
// library with the hidapi stand-in. Each loop keeps its own programmer, however the bus
// changes; a single job keeps its one; and the screen says what is in the socket.

#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "csv_log.h"
#include "file_contents.h"
#include "output_lines.h"
#include "prog_run.h"
#include "test_scratch.h"

namespace qs71prog::test {
namespace {

class ProgProgrammerIdentity : public testing::Test {
 protected:
  void SetUp() override {
    dir = CleanScratchFolder(QS71_TEST_TMPDIR,
                             testing::UnitTest::GetInstance()->current_test_info()->name());
    image = GeneratedImage(dir / "gen");
    ASSERT_FALSE(image.empty());
    sockets = dir / "sockets";
    log = dir / "parts.csv";
    bus = dir / "bus";
  }

  // A blank part made apart and then put into the folder whole, as a person puts a part in:
  // a running programmer must never meet one half made.
  std::filesystem::path PutPart(const std::filesystem::path& folder, const std::string& name) {
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(dir / "made");
    const std::filesystem::path made = dir / "made" / name;
    EXPECT_EQ(RunProg({"--emulate=" + made.string(), "--identify"}).exitCode, 0);
    blank = ReadFileBytes(made);
    std::filesystem::rename(made, folder / name);
    return folder / name;
  }

  // The bus file is replaced whole, so that a listing never meets it half written.
  void Bus(const std::string& lines) const {
    const std::filesystem::path next = bus.string() + ".new";
    std::ofstream(next, std::ios::trunc) << lines;
    std::filesystem::rename(next, bus);
  }

  // The part, where the emulated operator put it once it took it out (out/ beside it).
  bool HoldsImage(const std::filesystem::path& part) const {
    const std::filesystem::path taken = part.parent_path() / "out" / part.filename();
    const std::filesystem::path where = std::filesystem::exists(part) ? part : taken;
    return RunProg({"--emulate=" + where.string(), "--verify", image.string()}).exitCode == 0;
  }

  Environment Emulation(int programmers, bool withOperator = true) const {
    Environment environment = {{"QS71_EMU_SOCKET", sockets.string()},
                               {"QS71_EMU_PROGRAMMERS", std::to_string(programmers)},
                               {"QS71_EMU_BUS", bus.string()}};
    if (withOperator) environment.push_back({"QS71_EMU_OPERATOR", "0"});
    return environment;
  }

  // qs71prog with its standard error on its standard output, read line by line. A run that
  // never says what a test waits for is killed after a while, so that the test fails instead
  // of waiting for ever.
  std::unique_ptr<testsupport::LiveProcess> Start(const std::vector<std::string>& arguments,
                                                  const Environment& environment) {
    std::vector<std::string> command = {"sh", "-c", "exec \"$0\" \"$@\" 2>&1", QS71PROG_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    auto run = std::make_unique<testsupport::LiveProcess>(
        command, testsupport::ProcessOptions{.environment = environment});
    watchdogs.push_back(std::make_unique<Watchdog>(run->Pid()));
    return run;
  }

  // Kills its process unless the test is over first.
  struct Watchdog {
    explicit Watchdog(pid_t pid)
        : thread([this, pid] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!done.wait_for(lock, kPatience, [this] { return over; })) kill(pid, SIGKILL);
          }) {}
    ~Watchdog() {
      {
        std::lock_guard<std::mutex> lock(mutex);
        over = true;
      }
      done.notify_all();
      thread.join();
    }
    std::mutex mutex;
    std::condition_variable done;
    bool over = false;
    std::thread thread;
  };
  static constexpr std::chrono::seconds kPatience{90};
  std::vector<std::unique_ptr<Watchdog>> watchdogs;

  std::filesystem::path dir;
  std::filesystem::path image;
  std::filesystem::path sockets;
  std::filesystem::path log;
  std::filesystem::path bus;
  std::vector<uint8_t> blank;
};

// Reads the live run's output until a line holds text; false when the output ends first.
bool ReadUntil(testsupport::LiveProcess& process, const std::string& text, std::string& seen) {
  std::string line;
  while (process.ReadLine(line)) {
    seen += line + "\n";
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

std::string RestOf(testsupport::LiveProcess& process, std::string seen) {
  std::string line;
  while (process.ReadLine(line)) seen += line + "\n";
  return seen;
}

// Two programmers whose firmware reports one serial: told apart by their ports. One is pulled
// and comes back on another port; each loop keeps its own programmer throughout, and every
// part's row names the port its own programmer had.
TEST_F(ProgProgrammerIdentity, TwoProgrammersWithOneSerialOnePulledAndBack) {
  Bus("1 emulated:01 TWIN\n2 emulated:02 TWIN\n");
  const auto first = PutPart(sockets / "1", "a.otp");
  const auto second = PutPart(sockets / "2", "a.otp");
  auto run = Start({"--emulate", "--write", image.string(), "--production", "--all", "--log",
                    log.string()},
                   Emulation(2));
  std::string seen;
  ASSERT_TRUE(ReadUntil(*run, "two programmers report serial TWIN: they are told apart by their USB port", seen)) << seen;
  ASSERT_TRUE(ReadUntil(*run, ": PASS", seen)) << seen;
  ASSERT_TRUE(ReadUntil(*run, ": PASS", seen)) << seen;
  Bus("2 emulated:02 TWIN\n");
  ASSERT_TRUE(ReadUntil(*run, "programmer 1: lost", seen)) << seen;
  const auto later = PutPart(sockets / "1", "b.otp");
  const auto other = PutPart(sockets / "2", "b.otp");
  ASSERT_TRUE(ReadUntil(*run, ": PASS", seen)) << seen;  // programmer 2 goes on meanwhile
  Bus("1 emulated:05 TWIN\n2 emulated:02 TWIN\n");
  ASSERT_TRUE(ReadUntil(*run, "programmer 1: back: emulated:05 answers again", seen)) << seen;
  ASSERT_TRUE(ReadUntil(*run, ": PASS", seen)) << seen;
  run->Send(SIGINT);
  seen = RestOf(*run, seen);
  EXPECT_EQ(run->Wait(), 12) << seen;
  for (const auto& part : {first, second, later, other}) EXPECT_TRUE(HoldsImage(part)) << part;
  const CsvLog rows = ReadLog(log);
  ASSERT_EQ(rows.rows.size(), 4u) << seen;
  std::map<std::string, std::string> ports = {{"TWIN@emulated:01", "emulated:01 emulated:05"},
                                              {"TWIN@emulated:02", "emulated:02"}};
  std::map<std::string, int> parts;
  for (const auto& row : rows.rows) {
    EXPECT_EQ(row.at("result"), "pass");
    ++parts[row.at("programmer")];
    ASSERT_EQ(ports.count(row.at("programmer")), 1u) << row.at("programmer");
    EXPECT_NE(ports[row.at("programmer")].find(row.at("programmer_path")), std::string::npos)
        << row.at("programmer") << " ran on " << row.at("programmer_path");
  }
  EXPECT_EQ(parts, (std::map<std::string, int>{{"TWIN@emulated:01", 2}, {"TWIN@emulated:02", 2}}));
}

// Another programmer plugged into a lost one's port between two polls is another device: the
// lost loop does not go on with its parts; with --all it joins with a loop and a start row of
// its own, unless --expect-programmers says the bench has no room for it.
TEST_F(ProgProgrammerIdentity, APathTakenByAnotherProgrammerBetweenTwoPolls) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    bool joins;
    const char* says;
  } cases[] = {
      {"--all", {"--all"}, true, "programmer 2 (SER-B) joined the run"},
      {"a ceiling of one", {"--all", "--expect-programmers", "1"}, false,
       "the programmer at emulated:01 (SER-B) does not join the run: the bench has 1 "
       "(--expect-programmers)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    std::filesystem::remove(log);
    std::filesystem::remove_all(dir / "state");
    Bus("1 emulated:01 SER-A\n");
    const auto mine = PutPart(sockets / "1", "a.otp");
    const auto theirs = PutPart(sockets / "2", "a.otp");
    std::vector<std::string> arguments = {"--emulate", "--write", image.string(), "--production",
                                          "--log", log.string()};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    Environment environment = Emulation(2);
    environment.push_back({"XDG_STATE_HOME", (dir / "state").string()});
    auto run = Start(arguments, environment);
    std::string seen;
    ASSERT_TRUE(ReadUntil(*run, "programmer 1 part 1: PASS", seen)) << seen;
    ASSERT_TRUE(ReadUntil(*run, "programmer 1: waiting for a part", seen)) << seen;
    Bus("2 emulated:01 SER-B\n");
    ASSERT_TRUE(ReadUntil(*run, "Programmer replaced: emulated:01 is not the device named", seen)) << seen;
    // The loop's alarm and the listing's word on the newcomer come from different threads,
    // in either order.
    ASSERT_TRUE(seen.find(c.says) != std::string::npos || ReadUntil(*run, c.says, seen)) << seen;
    if (c.joins) {
      ASSERT_TRUE(ReadUntil(*run, "programmer 2 part 2: PASS", seen)) << seen;
    }
    run->Send(SIGINT);
    seen = RestOf(*run, seen);
    EXPECT_EQ(run->Wait(), 3) << seen;  // programmer 1 is still lost
    EXPECT_TRUE(HoldsImage(mine));
    EXPECT_EQ(HoldsImage(theirs), c.joins);
    const CsvLog rows = ReadLog(log);
    std::vector<std::string> made;
    for (const auto& row : rows.rows) made.push_back(row.at("programmer") + " " + row.at("part"));
    const std::vector<std::string> expected =
        c.joins ? std::vector<std::string>{"SER-A 1", "SER-B 2"} : std::vector<std::string>{"SER-A 1"};
    EXPECT_EQ(made, expected) << seen;
    std::vector<std::string> starts;
    for (const auto& row : rows.events) {
      if (row.at("event") == "start") starts.push_back(row.at("programmer"));
    }
    const std::vector<std::string> started =
        c.joins ? std::vector<std::string>{"SER-A", "SER-B"} : std::vector<std::string>{"SER-A"};
    EXPECT_EQ(starts, started);
  }
}

// A single job picks its programmer once and sends every call to it: another programmer put
// first on the bus during the blank check changes nothing, and another one in its place ends
// the job as a programmer lost, before the write.
TEST_F(ProgProgrammerIdentity, ASingleJobKeepsItsProgrammerWhateverTheBusDoes) {
  const struct {
    const char* name;
    const char* before;
    const char* during;
    int exit;
    bool written;
    const char* says;
  } cases[] = {
      {"another programmer put first", "1 emulated:02 QS71EMU-01\n",
       "2 emulated:01 QS71EMU-02\n1 emulated:02 QS71EMU-01\n", 0, true, "done: blank check, write, verify"},
      {"another programmer in its place", "1 emulated:01 QS71EMU-01\n",
       "2 emulated:01 QS71EMU-02\n", 3, false,
       "another device stands where the programmer was: it was unplugged or replaced; check the "
       "USB cable (-64)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    const auto mine = PutPart(sockets / "1", "a.otp");
    const auto theirs = PutPart(sockets / "2", "a.otp");
    Bus(c.before);
    Environment environment = Emulation(2, false);
    environment.push_back({"QS71_EMU_PACE_US", "200"});
    auto run = Start({"--emulate", "--write", image.string()}, environment);
    std::string seen;
    ASSERT_TRUE(ReadUntil(*run, "blank check  ", seen)) << seen;
    Bus(c.during);
    seen = RestOf(*run, seen);
    EXPECT_EQ(run->Wait(), c.exit) << seen;
    EXPECT_NE(seen.find(c.says), std::string::npos) << seen;
    EXPECT_EQ(HoldsImage(mine), c.written) << seen;
    EXPECT_EQ(ReadFileBytes(theirs), blank) << "the other programmer's part was touched\n" << seen;
  }
}

// A part in the socket is looked at again before its verdict shows again: after a loss, and
// while the loop waits for it to be taken out, since a part swapped at once leaves no empty
// socket to see. The part of the verdict keeps it; a new blank part put in is said for what it
// is and goes through. The parts stay in their sockets until the test takes them out.
TEST_F(ProgProgrammerIdentity, APartInTheSocketIsLookedAtAgainBeforeItsVerdictShows) {
  enum class Swap { kNone, kWhileLost, kBetweenPolls };
  const struct {
    const char* name;
    bool lost;  // the programmer is unplugged and plugged in again
    Swap swap;  // when the part is taken out and a new blank one put in
  } cases[] = {{"lost, the same part", true, Swap::kNone},
               {"lost, a new blank part", true, Swap::kWhileLost},
               {"a new blank part between two polls", false, Swap::kBetweenPolls}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    std::filesystem::remove(log);
    std::filesystem::remove_all(dir / "state");
    Bus("1 emulated:01 QS71EMU-01\n");
    const auto first = PutPart(sockets, "a.otp");
    Environment environment = Emulation(1, false);
    environment.push_back({"XDG_STATE_HOME", (dir / "state").string()});
    auto run = Start({"--emulate", "--write", image.string(), "--production", "--count", "2",
                      "--log", log.string()},
                     environment);
    std::string seen;
    ASSERT_TRUE(ReadUntil(*run, "programmer 1 part 1: PASS", seen)) << seen;
    ASSERT_TRUE(ReadUntil(*run, "programmer 1: take the part out", seen)) << seen;
    std::filesystem::path second;
    if (c.lost) {
      Bus("");
      ASSERT_TRUE(ReadUntil(*run, "LOST — check the USB cable", seen)) << seen;
      if (c.swap == Swap::kWhileLost) {
        std::filesystem::rename(first, dir / "taken.otp");
        second = PutPart(sockets, "b.otp");
      }
      Bus("1 emulated:01 QS71EMU-01\n");
      ASSERT_TRUE(ReadUntil(*run, "back: emulated:01 answers again", seen)) << seen;
    }
    if (c.swap == Swap::kBetweenPolls) {
      // The new part is in before the old one leaves: no poll can find the socket empty.
      second = PutPart(sockets, "b.otp");
      std::filesystem::rename(first, dir / "taken.otp");
    } else if (c.swap == Swap::kNone) {
      std::filesystem::rename(first, dir / "taken.otp");
      ASSERT_TRUE(ReadUntil(*run, "programmer 1: waiting for a part", seen)) << seen;
      second = PutPart(sockets, "b.otp");
    }
    seen = RestOf(*run, seen);
    EXPECT_EQ(run->Wait(), 0) << seen;
    EXPECT_EQ(seen.find("a blank part is in the socket, not part 1: it goes through as the next "
                        "part") != std::string::npos,
              c.swap != Swap::kNone)
        << seen;
    EXPECT_TRUE(HoldsImage(second));
    const CsvLog rows = ReadLog(log);
    ASSERT_EQ(rows.rows.size(), 2u) << seen;
    for (const auto& row : rows.rows) EXPECT_EQ(row.at("result"), "pass");
  }
}

// While its programmer answers wrongly a lost loop gives its hold up once and holds the
// programmer it takes back from then on: it is not let go and taken again at every poll,
// where another host could slip in. strace counts the locks taken while it is lost.
TEST_F(ProgProgrammerIdentity, ALostProgrammersHoldIsGivenUpOnce) {
  if (testsupport::RunProcess({"strace", "-V"}).exitCode != 0) GTEST_SKIP() << "no strace here";
  Bus("1 emulated:01 QS71EMU-01\n");
  PutPart(sockets, "a.otp");
  std::ofstream(sockets / "a.faults") << "wrong-echo:0x70:*";
  const std::filesystem::path traced = dir / "strace.txt";
  auto run = Start({"--emulate", "--write", image.string(), "--production"}, Emulation(1, false));
  std::string seen;
  ASSERT_TRUE(ReadUntil(*run, "LOST — look at the programmer", seen)) << seen;
  // Six polls or so while it is lost: the old loop took the hold again at each of them.
  const testsupport::ProcessResult watched = testsupport::RunProcess(
      {"timeout", "-s", "INT", "3", "strace", "-f", "-e", "trace=flock", "-o", traced.string(),
       "-p", std::to_string(run->Pid())});
  const std::string lost = ReadFileText(traced);
  run->Send(SIGINT);
  RestOf(*run, seen);
  run->Wait();
  ASSERT_NE(watched.err.find("attached"), std::string::npos) << watched.err;
  size_t taken = 0;
  for (const std::string& line : Lines(lost)) taken += line.find("LOCK_EX") != std::string::npos;
  EXPECT_LE(taken, 2u) << lost;
}

// The production library with the hidapi stand-in, whose device nodes are files: the node is
// made again at the programmer's path (hidraw's new inode for a device pulled and plugged in
// again). The run takes that for another device: the loop is lost, takes the programmer back
// by its serial, and holds the new node, so a second process is refused.
TEST_F(ProgProgrammerIdentity, ANodeMadeAgainIsHeldAgain) {
  const std::filesystem::path nodes = dir / "dev";
  std::filesystem::create_directories(nodes);
  const char* inherited = std::getenv("LD_LIBRARY_PATH");
  const std::string libraries = std::string(QS71_STANDIN_FOLDER) +
                                (inherited != nullptr && *inherited != '\0' ? std::string(":") + inherited : "");
  const Environment environment = {{"LD_LIBRARY_PATH", libraries},
                                   {"QS71_STANDIN_DIR", nodes.string()},
                                   {"QS71_STANDIN_OTP", (dir / "part.otp").string()},
                                   {"XDG_STATE_HOME", (dir / "state").string()}};
  auto run = Start({"--library", QS71_PRODUCTION_LIBRARY, "--write", image.string(),
                    "--production", "--log", log.string()},
                   environment);
  std::string seen;
  ASSERT_TRUE(ReadUntil(*run, "programmer 1 part 1: PASS", seen)) << seen;
  const std::filesystem::path node = nodes / "hidraw3";
  ASSERT_TRUE(std::filesystem::remove(node));
  std::ofstream{node};
  chmod(node.c_str(), 0666);
  ASSERT_TRUE(ReadUntil(*run, "programmer 1: back:", seen)) << seen;
  testsupport::LiveProcess other({QS71_HOLD_HELPER, QS71_PRODUCTION_LIBRARY, "hold", "-"},
                                 {.environment = environment});
  std::string line;
  ASSERT_TRUE(other.ReadLine(line));
  EXPECT_EQ(line, "hold -62 process " + std::to_string(run->Pid()) + " (qs71prog)") << seen;
  run->Send(SIGINT);
  seen = RestOf(*run, seen);
  EXPECT_EQ(run->Wait(), 12) << seen;
  std::vector<std::string> events;
  for (const auto& row : ReadLog(log).events) events.push_back(row.at("event"));
  EXPECT_EQ(events, (std::vector<std::string>{"start", "lost", "back", "end"})) << seen;
}

// The part number shows once the part's started row holds it: a part that held this image
// already gives its number back and never showed one; a blank check that fails is no failed
// verify; a part cut short in its blank check is untouched, to be put through again.
TEST_F(ProgProgrammerIdentity, TheScreenSaysWhatWasDoneToThePart) {
  const auto made = PutPart(dir / "made-before", "a.otp");
  ASSERT_EQ(RunProg({"--emulate=" + made.string(), "--write", image.string()}).exitCode, 0);
  std::vector<uint8_t> altered = ReadFileBytes(image);
  for (uint8_t& byte : altered) {
    if (byte != 0xFF) {
      byte ^= 0x01;
      break;
    }
  }
  const std::filesystem::path otherImage = dir / "other.bin";
  std::ofstream(otherImage, std::ios::binary)
      .write(reinterpret_cast<const char*>(altered.data()), static_cast<std::streamsize>(altered.size()));
  const auto written = PutPart(dir / "written", "a.otp");
  ASSERT_EQ(RunProg({"--emulate=" + written.string(), "--write", otherImage.string(),
                     "--force"}).exitCode, 0);
  const struct {
    const char* name;
    std::filesystem::path part;
    int exit;
    std::vector<std::string> shows;
    std::vector<std::string> hides;
  } cases[] = {
      {"held this image already", made, 0, {"ALREADY"}, {"part 1  do not touch", "part 1:"}},
      {"not blank", written, 6, {"FAIL  part 1  chip 6D 61 02 00", "blank check failed: not-blank"},
       {"verify failed"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    std::filesystem::create_directories(sockets);
    std::filesystem::copy_file(c.part, sockets / "a.otp");
    const ProcessResult run = RunProgOnTerminal(
        {"--emulate", "--write", image.string(), "--production", "--count", "1", "--no-color"},
        {{"QS71_EMU_SOCKET", sockets.string()}, {"XDG_STATE_HOME", (dir / c.name).string()},
         {"QS71PROG_POLL_MS", "1"}, {"QS71_EMU_PACE_US", "100"}},
        120);
    EXPECT_EQ(run.exitCode, c.exit) << run.out;
    for (const std::string& text : c.shows) EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
    for (const std::string& text : c.hides) EXPECT_EQ(run.out.find(text), std::string::npos) << text << "\n" << run.out;
  }
}

TEST_F(ProgProgrammerIdentity, APartCutShortInItsBlankCheckIsUntouched) {
  const auto part = PutPart(sockets, "a.otp");
  Environment environment = Emulation(1, false);
  environment.push_back({"QS71_EMU_PACE_US", "1000"});
  environment.push_back({"XDG_STATE_HOME", (dir / "state").string()});
  Bus("1 emulated:01 QS71EMU-01\n");
  auto run = Start({"--emulate", "--write", image.string(), "--production", "--log", log.string()},
                   environment);
  std::string seen;
  ASSERT_TRUE(ReadUntil(*run, "programmer 1: a part in the socket", seen)) << seen;
  run->Send(SIGTERM);
  ASSERT_TRUE(ReadUntil(*run, "the part under way will be", seen)) << seen;
  run->Send(SIGTERM);
  seen = RestOf(*run, seen);
  EXPECT_EQ(run->Wait(), 13) << seen;
  EXPECT_NE(seen.find("programmer 1 part: untouched"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("FAIL"), std::string::npos) << seen;
  const CsvLog rows = ReadLog(log);
  ASSERT_EQ(rows.rows.size(), 1u);
  EXPECT_EQ(rows.rows[0].at("result"), "untouched");
  EXPECT_EQ(rows.rows[0].at("part"), "0");
  EXPECT_EQ(ReadFileBytes(part), blank);
}

// A record that cannot be written after the parts (here the summary) is a failure of the run:
// it outranks an interruption, which is none.
TEST_F(ProgProgrammerIdentity, ASummaryNotWrittenOutranksCtrlC) {
  PutPart(sockets, "a.otp");
  Environment environment = Emulation(1);
  environment.push_back({"XDG_STATE_HOME", (dir / "state").string()});
  Bus("1 emulated:01 QS71EMU-01\n");
  auto run = Start({"--emulate", "--write", image.string(), "--production", "--summary",
                    (dir / "no such folder" / "shift.json").string()},
                   environment);
  std::string seen;
  ASSERT_TRUE(ReadUntil(*run, "programmer 1 part 1: PASS", seen)) << seen;
  run->Send(SIGINT);
  seen = RestOf(*run, seen);
  EXPECT_EQ(run->Wait(), 9) << seen;
  EXPECT_NE(seen.find("cannot write the summary"), std::string::npos) << seen;
}

// Without QS71_EMU_ID a dry run's part is of the size its job needs: the image's, or that of
// the chip file it is kept in, which is the part whatever the image.
TEST_F(ProgProgrammerIdentity, ADryRunsPartFitsItsImage) {
  const std::filesystem::path big = GeneratedImage(dir / "big", "80000h");
  ASSERT_FALSE(big.empty());
  const std::filesystem::path chip = dir / "chip.otp";
  const ProcessResult made = RunProg({"--emulate=" + chip.string(), "--write", big.string()});
  EXPECT_EQ(made.exitCode, 0) << made.out << made.err;
  EXPECT_EQ(std::filesystem::file_size(chip), 524288u);
  const std::filesystem::path small = dir / "small.otp";
  ASSERT_EQ(RunProg({"--emulate=" + small.string(), "--identify"}).exitCode, 0);
  const ProcessResult refused = RunProg({"--emulate=" + small.string(), "--write", big.string()});
  EXPECT_EQ(refused.exitCode, 5) << refused.out << refused.err;
  EXPECT_NE((refused.out + refused.err).find("the emulated part is the one kept in " + small.string()),
            std::string::npos)
      << refused.out << refused.err;
  EXPECT_EQ(std::filesystem::file_size(small), 262144u);
}


// A programmer whose node is made again at its own path (a USB glitch re-enumerates it: hidraw
// gives it a new inode at the same /dev/hidrawN) while its loop is in the middle of a part. The
// loop does not see it before its next call; --all's look for newcomers, once a second, must
// not take the same programmer for a newcomer and start a second loop on the same socket, on
// the part the first loop is writing.
TEST_F(ProgProgrammerIdentity, ANodeMadeAgainDuringAPartIsNoNewcomer) {
  const struct {
    const char* name;
    int afterSeconds;  // after the part's job began
  } cases[] = {{"during its blank check", 0}, {"during its write", 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    std::filesystem::remove(log);
    std::filesystem::remove_all(dir / "state");
    Bus("1 emulated:01 QS71EMU-01\n");
    const auto part = PutPart(sockets, "a.otp");
    Environment environment = Emulation(1, false);
    environment.push_back({"QS71_EMU_PACE_US", "400"});
    environment.push_back({"XDG_STATE_HOME", (dir / "state").string()});
    auto run = Start({"--emulate", "--write", image.string(), "--production", "--all", "--log",
                      log.string()},
                     environment);
    std::string seen;
    ASSERT_TRUE(ReadUntil(*run, "programmer 1: part 1 in the socket", seen)) << seen;
    std::this_thread::sleep_for(std::chrono::seconds(c.afterSeconds));
    Bus("1 emulated:01 QS71EMU-01 7\n");
    std::this_thread::sleep_for(std::chrono::seconds(14));
    run->Send(SIGINT);
    seen = RestOf(*run, seen);
    run->Wait();
    EXPECT_EQ(seen.find("joined the run"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("two programmers report serial"), std::string::npos)
        << "one programmer, its node made again\n" << seen;
    EXPECT_TRUE(HoldsImage(part)) << seen;
    const CsvLog rows = ReadLog(log);
    std::string verdicts;
    for (const auto& row : rows.rows) {
      verdicts += row.at("programmer") + " part " + row.at("part") + " " + row.at("result") + "\n";
    }
    // One part in the socket, one loop, no scrap. Where the node was made again inside one of
    // the part's calls, that call goes on: one pass. Between two of them, the next call is
    // refused before it reaches the part: before the write, an attempt that left the part
    // untouched, which then goes through again; before the verify, a part written and not
    // verified, which holds the image all the same.
    size_t passes = 0;
    for (const auto& row : rows.rows) {
      const std::string& result = row.at("result");
      EXPECT_EQ(row.at("programmer"), "QS71EMU-01") << verdicts << seen;
      EXPECT_TRUE(result == "pass" || result == "untouched" || result == "unverified")
          << verdicts << seen;
      passes += result == "pass" || result == "unverified";
    }
    EXPECT_EQ(passes, 1u) << "one part in the socket:\n" << verdicts << seen;
  }
}

// A job whose programmer was replaced, held by another process, or refused its hold says so
// in qs71prog's own words: every code of the library's hold is one qs71prog knows.
TEST_F(ProgProgrammerIdentity, AReplacedProgrammerIsACodeQs71progKnows) {
  std::filesystem::remove_all(sockets);
  PutPart(sockets / "1", "a.otp");
  PutPart(sockets / "2", "a.otp");
  Bus("1 emulated:01 QS71EMU-01\n");
  Environment environment = Emulation(2, false);
  environment.push_back({"QS71_EMU_PACE_US", "200"});
  auto run = Start({"--emulate", "--write", image.string()}, environment);
  std::string seen;
  ASSERT_TRUE(ReadUntil(*run, "blank check  ", seen)) << seen;
  Bus("2 emulated:01 QS71EMU-02\n");
  seen = RestOf(*run, seen);
  EXPECT_EQ(run->Wait(), 3) << seen;
  EXPECT_NE(seen.find("Programmer replaced"), std::string::npos) << seen;
  EXPECT_EQ(seen.find("a result code this qs71prog does not know"), std::string::npos) << seen;
}

// The bus as a pipe: every listing and every call of the emulated library reads the bus file
// once, so a pipe in its place gives each reading the bus the test wants it to see, in order.
// While the test says, readings up to `first` see `before`; the later ones `after`, until the
// test changes it.
class PipedBus {
 public:
  PipedBus(const std::filesystem::path& path, int first, std::string before, std::string after)
      : path(path), first(first), before(std::move(before)), after(std::move(after)) {
    mkfifo(path.c_str(), 0600);
    thread = std::thread([this] { Serve(); });
  }
  ~PipedBus() {
    stop = true;
    thread.join();
  }
  void Then(const std::string& lines) {
    std::lock_guard<std::mutex> lock(mutex);
    after = lines;
  }
  int Readings() const { return readings; }

 private:
  void Serve() {
    while (!stop) {
      const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      std::string lines;
      {
        std::lock_guard<std::mutex> lock(mutex);
        lines = ++readings <= first ? before : after;
      }
      fcntl(fd, F_SETFL, 0);
      if (!lines.empty() && write(fd, lines.data(), lines.size()) < 0) {}
      close(fd);
      // The reader reads to the end before it opens the pipe again.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  std::filesystem::path path;
  int first;
  std::string before;
  std::string after;
  std::mutex mutex;
  std::atomic<int> readings{0};
  std::atomic<bool> stop{false};
  std::thread thread;
};

// A single job started while no programmer was listed yet (one plugged in a moment later, or
// a bus re-enumerating as qs71prog starts) has chosen none: it must not then send each call
// to whatever programmer is first at that moment, unheld between its calls. Another programmer
// put first during its blank check gets the write of a part it never blank-checked.
TEST_F(ProgProgrammerIdentity, ASingleJobThatFoundNoProgrammerDoesNotTakeTheFirstAtEachCall) {
  std::filesystem::remove_all(sockets);
  const auto mine = PutPart(sockets / "1", "a.otp");
  const auto theirs = PutPart(sockets / "2", "a.otp");
  std::filesystem::remove(bus);
  PipedBus piped(bus, 2, "", "1 emulated:01 QS71EMU-01\n");
  Environment environment = Emulation(2, false);
  environment.push_back({"QS71_EMU_PACE_US", "200"});
  auto run = Start({"--emulate", "--write", image.string()}, environment);
  std::string seen;
  const bool blankCheck = ReadUntil(*run, "blank check  ", seen);
  piped.Then("2 emulated:01 QS71EMU-02\n1 emulated:02 QS71EMU-01\n");
  seen = RestOf(*run, seen);
  const int exit = run->Wait();
  if (!blankCheck) {
    EXPECT_EQ(exit, 3) << seen;  // no programmer: the job made no call
    return;
  }
  EXPECT_NE(exit, 0) << "the job went from one programmer to another\n" << seen;
  EXPECT_EQ(ReadFileBytes(theirs), blank)
      << "a part written that was never blank-checked\n" << seen;
}


// The operator pulls the part during a single job's write, and may put a new one in: the job
// must not end well, and the new part keeps what it had (blank): nothing of the job reaches it.
TEST_F(ProgProgrammerIdentity, APartPulledDuringASingleJobsWriteIsNoPass) {
  const struct {
    const char* name;
    bool newPart;
  } cases[] = {{"pulled", false}, {"pulled, a new part put in", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    Bus("1 emulated:01 QS71EMU-01\n");
    const auto part = PutPart(sockets, "a.otp");
    Environment environment = Emulation(1, false);
    environment.push_back({"QS71_EMU_PACE_US", "300"});
    auto run = Start({"--emulate", "--write", image.string()}, environment);
    std::string seen;
    ASSERT_TRUE(ReadUntil(*run, "write  ", seen)) << seen;
    std::filesystem::create_directories(sockets / "out");
    std::filesystem::rename(part, sockets / "out" / "a.otp");
    if (c.newPart) PutPart(sockets, "a.otp");
    seen = RestOf(*run, seen);
    EXPECT_NE(run->Wait(), 0) << seen;
    EXPECT_EQ(seen.find("qs71prog: done:"), std::string::npos) << seen;
    if (c.newPart) {
      EXPECT_EQ(ReadFileBytes(sockets / "a.otp"), blank) << seen;
    }
  }
}

}  // namespace
}  // namespace qs71prog::test
