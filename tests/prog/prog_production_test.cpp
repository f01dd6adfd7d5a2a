// Production runs of the real qs71prog against emulated programmers whose sockets are fed from
// folders of part files: parts counted, logged and judged, the loop's ends, several
// programmers at once, and Ctrl-C between parts.

#include <gtest/gtest.h>

#include <functional>
#include <signal.h>

#include <chrono>
#include <map>
#include <regex>
#include <thread>

#include "csv_log.h"
#include "file_contents.h"
#include "output_lines.h"
#include "prog_run.h"
#include "sha256.h"
#include "test_scratch.h"

namespace qs71prog::test {
namespace {

constexpr size_t kSmallPart = 262144;

class ProgProduction : public testing::Test {
 protected:
  void SetUp() override {
    dir = CleanScratchFolder(QS71_TEST_TMPDIR,
                             testing::UnitTest::GetInstance()->current_test_info()->name());
    image = GeneratedImage(dir / "gen");
    ASSERT_FALSE(image.empty());
    bytes = ReadFileBytes(image);
    ASSERT_EQ(bytes.size(), kSmallPart);
    sockets = dir / "sockets";
    log = dir / "parts.csv";
  }

  // Blank parts part1.otp.. in folder, as the emulated programmer makes a fresh one.
  std::vector<std::filesystem::path> MakeParts(const std::filesystem::path& folder, int count) {
    std::filesystem::create_directories(folder);
    std::vector<std::filesystem::path> parts;
    for (int i = 1; i <= count; ++i) {
      parts.push_back(folder / ("part" + std::to_string(i) + ".otp"));
      const ProcessResult made = RunProg({"--emulate=" + parts.back().string(), "--identify"});
      EXPECT_EQ(made.exitCode, 0) << made.err;
    }
    blank = ReadFileBytes(parts.front());
    return parts;
  }

  // The first cell the image programs: a stuck one there fails the verify.
  uint32_t ProgrammedCell() const {
    for (uint32_t cell = 0; cell < bytes.size(); ++cell) {
      if (bytes[cell] != 0xFF) return cell;
    }
    return 0;
  }

  // The image with one programmed cell changed: a part written with it is written, and not
  // with this image.
  std::filesystem::path AlteredImage() const {
    std::vector<uint8_t> altered = bytes;
    altered[ProgrammedCell()] ^= 0x01;
    const std::filesystem::path path = dir / "altered.bin";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(altered.data()), static_cast<std::streamsize>(altered.size()));
    return path;
  }

  bool HoldsImage(const std::filesystem::path& part) const { return PartHoldsImage(part, image); }

  ProcessResult Production(std::vector<std::string> arguments, int programmers = 1) {
    arguments.insert(arguments.begin(), {"--emulate", "--write", image.string(), "--production",
                                         "--log", log.string()});
    return RunProg(arguments, {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()},
                               {"QS71_EMU_PROGRAMMERS", std::to_string(programmers)}});
  }

  std::filesystem::path dir;
  std::filesystem::path image;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> blank;
  std::filesystem::path sockets;
  std::filesystem::path log;
};

std::string Block(uint32_t cell) {
  char text[32];
  const uint32_t start = cell / 256 * 256;
  std::snprintf(text, sizeof text, "0x%06X-0x%06X", start, start + 255);
  return text;
}

TEST_F(ProgProduction, CountsLogsAndJudgesEachPart) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    size_t logged;  // parts logged, and so taken from the socket
    std::string counters;
  } cases[] = {
      {"to the count", {"--count", "5"}, 5, "programmer 1: passed 4  failed 1"},
      {"stop on fail", {"--count", "5", "--stop-on-fail"}, 3, "programmer 1: passed 2  failed 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    std::filesystem::remove(log);
    std::filesystem::remove_all(dir / "state");  // the trace numbers on from its last part
    const std::vector<std::filesystem::path> parts = MakeParts(sockets, 5);
    std::ofstream(sockets / "part3.faults") << "stuck:" << ProgrammedCell();
    const ProcessResult run = Production(c.arguments);
    EXPECT_EQ(run.exitCode, 8) << run.err;  // the failed part's: verify mismatch
    EXPECT_NE(run.out.find(c.counters), std::string::npos) << run.out;
    const CsvLog parts_log = ReadLog(log);
    EXPECT_EQ(parts_log.headers, 1);
    ASSERT_EQ(parts_log.rows.size(), c.logged);
    for (size_t i = 0; i < parts_log.rows.size(); ++i) {
      const auto& row = parts_log.rows[i];
      const bool third = i == 2;
      EXPECT_EQ(row.at("part"), std::to_string(i + 1));
      EXPECT_EQ(row.at("result"), third ? "fail" : "pass");
      EXPECT_EQ(row.at("exit"), third ? "8" : "0");
      EXPECT_EQ(row.at("blocks"), third ? Block(ProgrammedCell()) : "");
      EXPECT_EQ(row.at("status"), third ? "verify-mismatch — reject the part" : "ok");
      EXPECT_EQ(row.at("chip_id").substr(0, 5), "6D 61");
      EXPECT_EQ(row.at("otp_size"), std::to_string(kSmallPart));
      EXPECT_FALSE(row.at("verify_s").empty());
      EXPECT_EQ(HoldsImage(parts[i]), !third) << parts[i];
    }
    for (size_t i = c.logged; i < parts.size(); ++i) {
      EXPECT_EQ(ReadFileBytes(parts[i]), blank) << parts[i] << " was touched";
    }
  }
}

// On a terminal each programmer has a tile that names it with its verdict and keeps it after
// the run; colour unless --no-color or NO_COLOR says otherwise.
TEST_F(ProgProduction, EachVerdictStaysOnItsProgrammersTile) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::string noColour;
    bool coloured;
  } cases[] = {
      {"colour", {}, "", true},
      {"--no-color", {"--no-color"}, "", false},
      {"NO_COLOR", {}, "1", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    std::filesystem::remove_all(dir / "state");  // the trace numbers on from its last part
    for (const char* programmer : {"1", "2"}) MakeParts(sockets / programmer, 1);
    std::ofstream(sockets / "2" / "part1.faults") << "stuck:" << ProgrammedCell();
    std::vector<std::string> arguments = {"--emulate", "--write", image.string(), "--production",
                                          "--all", "--count", "1"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ProcessResult run = RunProgOnTerminal(arguments,
                                                {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()},
                                                 {"QS71_EMU_PROGRAMMERS", "2"},
                                                 {"NO_COLOR", c.noColour}},
                                                100);
    EXPECT_EQ(run.exitCode, 8) << run.out;
    EXPECT_EQ(run.out.find("\033[1;31m") != std::string::npos, c.coloured) << run.out;
    // The tiles as the run left them: the last block drawn, below the last erase.
    const std::string tiles = run.out.substr(run.out.rfind("\033[J"));
    // The two programmers take the job's numbers 1 and 2 in whichever order they come.
    EXPECT_TRUE(std::regex_search(tiles, std::regex(R"(programmer 1 \(QS71EMU-01\)  PASS  part [12]  chip 6D 61 02 00  )")))
        << tiles;
    EXPECT_TRUE(std::regex_search(tiles, std::regex(R"(programmer 2 \(QS71EMU-02\)  FAIL  part [12]  chip 6D 61 02 00  )")))
        << tiles;
    EXPECT_NE(tiles.find("  verify failed: verify-mismatch — reject the part\r\n"), std::string::npos) << tiles;
    EXPECT_TRUE(std::regex_search(run.out, std::regex(R"(programmer 2 \(QS71EMU-02\)  part [12]: checking which blocks differ)")));
  }
}

// The production guide's walk-through: two programmers, three parts each, and the stuck cell
// it names in part 2 of programmer 2, which must lie in the demo image's data for that part to fail.
TEST_F(ProgProduction, TheGuidesWalkThroughFailsItsBadPart) {
  const std::string guide = ReadFileText(QS71_PRODUCTION_GUIDE);
  const std::string before = "echo stuck:";
  const size_t at = guide.find(before);
  ASSERT_NE(at, std::string::npos) << "the production guide's walk-through has lost its stuck cell";
  const std::string cell = guide.substr(at + before.size(),
                                        guide.find(' ', at + before.size()) - at - before.size());
  ASSERT_EQ(guide.substr(at + before.size() + cell.size(), 26), " > sockets/2/part2.faults ");
  for (const char* programmer : {"1", "2"}) MakeParts(sockets / programmer, 3);
  std::ofstream(sockets / "2" / "part2.faults") << "stuck:" << cell;
  const ProcessResult run = Production({"--all", "--count", "3"}, 2);
  EXPECT_EQ(run.exitCode, 8) << run.err;
  const CsvLog parts_log = ReadLog(log);
  ASSERT_EQ(parts_log.rows.size(), 6u);
  // Numbers are the job's, shared by both programmers: the bad part is programmer 2's second.
  int second = 0;
  for (const auto& row : parts_log.rows) {
    const bool bad = row.at("programmer") == "QS71EMU-02" && ++second == 2;
    EXPECT_EQ(row.at("result"), bad ? "fail" : "pass");
    EXPECT_EQ(row.at("blocks"), bad ? Block(std::stoul(cell, nullptr, 16)) : "");
  }
}

// Every programmer runs its own loop in its own thread, and each part file comes out written.
TEST_F(ProgProduction, AllProgrammersAtOnce) {
  std::vector<std::filesystem::path> parts;
  for (int programmer = 1; programmer <= 3; ++programmer) {
    for (const auto& part : MakeParts(sockets / std::to_string(programmer), 2)) {
      parts.push_back(part);
    }
  }
  const std::filesystem::path summary = dir / "shift.json";
  const ProcessResult run = Production({"--all", "--count", "2", "--summary", summary.string()}, 3);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("shift: all: passed 6, failed 0, yield 100.0%, "), std::string::npos)
      << run.out;
  const std::string json = ReadFileText(summary);
  EXPECT_NE(json.find("\"all\": {\n    \"passed\": 6,\n    \"failed\": 0,\n    \"yield\": 1.000,"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"lost\": []"), std::string::npos) << json;
  const CsvLog parts_log = ReadLog(log);
  ASSERT_EQ(parts_log.rows.size(), 6u);
  std::map<std::string, int> perProgrammer;
  for (const auto& row : parts_log.rows) {
    ++perProgrammer[row.at("programmer")];
    EXPECT_EQ(row.at("result"), "pass");
  }
  EXPECT_EQ(perProgrammer, (std::map<std::string, int>{
                               {"QS71EMU-01", 2}, {"QS71EMU-02", 2}, {"QS71EMU-03", 2}}));
  for (int programmer = 1; programmer <= 3; ++programmer) {
    EXPECT_NE(run.out.find("programmer " + std::to_string(programmer) + ": passed 2  failed 0"),
              std::string::npos)
        << run.out;
  }
  for (const auto& part : parts) EXPECT_TRUE(HoldsImage(part)) << part;
}

TEST_F(ProgProduction, ListsProgrammersAndRunsOnTheOnePicked) {
  const ProcessResult list =
      RunProg({"--emulate", "--list"},
              {{"QS71_EMU_PROGRAMMERS", "2"}, {"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}});
  EXPECT_EQ(list.exitCode, 0) << list.err;
  const std::vector<std::string> lines = Lines(list.out);
  ASSERT_EQ(lines.size(), 3u) << list.out;
  EXPECT_EQ(lines[0], "id  path  serial  release");
  EXPECT_EQ(lines[1].substr(0, 3), "1  ");
  EXPECT_EQ(lines[2].substr(0, 3), "2  ");
  EXPECT_NE(lines[2].find("0x0101"), std::string::npos) << lines[2];

  const auto first = MakeParts(sockets / "1", 1);
  const auto second = MakeParts(sockets / "2", 1);
  const ProcessResult run = Production({"--programmer", "2", "--count", "1"}, 2);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const CsvLog parts_log = ReadLog(log);
  ASSERT_EQ(parts_log.rows.size(), 1u);
  EXPECT_EQ(parts_log.rows[0].at("programmer"), "QS71EMU-02");
  EXPECT_TRUE(HoldsImage(second[0]));
  EXPECT_EQ(ReadFileBytes(first[0]), blank);
}

// An image whose name needs quoting in CSV; a second run appends to the log under the same
// header.
TEST_F(ProgProduction, LogQuotesFieldsAndKeepsOneHeader) {
  const std::filesystem::path odd = dir / "lot 7, \"rev B\".bin";
  std::filesystem::copy_file(image, odd);
  image = odd;
  // Each run starts with the first part file of its folder, so each has a folder of its own.
  const std::filesystem::path folder = sockets;
  for (const char* run : {"first", "second"}) {
    sockets = folder / run;
    MakeParts(sockets, 1);
    const ProcessResult result = Production({"--count", "1"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
  }
  const std::string text = ReadFileText(log);
  EXPECT_NE(text.find(",\"" + dir.string() + "/lot 7, \"\"rev B\"\".bin\","), std::string::npos)
      << text;
  const CsvLog parts_log = ReadLog(log);
  EXPECT_EQ(parts_log.headers, 1);
  ASSERT_EQ(parts_log.rows.size(), 2u);
  for (const auto& row : parts_log.rows) EXPECT_EQ(row.at("image"), odd.string());
  // The second run goes on numbering where the first stopped, each run between its own start
  // and end rows.
  EXPECT_EQ(parts_log.rows[0].at("part"), "1");
  EXPECT_EQ(parts_log.rows[1].at("part"), "2");
  EXPECT_NE(parts_log.rows[0].at("run"), parts_log.rows[1].at("run"));
  const char* events[][3] = {{"start", "0", ""},
                             {"end", "1", "passed 1 failed 0 yield 100.0%; ended: count reached"},
                             {"start", "1", ""},
                             {"end", "2", "passed 1 failed 0 yield 100.0%; ended: count reached"}};
  ASSERT_EQ(parts_log.events.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(parts_log.events[i].at("event"), events[i][0]);
    EXPECT_EQ(parts_log.events[i].at("part"), events[i][1]);
    EXPECT_EQ(parts_log.events[i].at("status"), events[i][2]);
    EXPECT_EQ(parts_log.events[i].at("run"), parts_log.rows[i / 2].at("run"));
  }
}

// A programmer whose cable is pulled stays LOST until it answers again, and its loop then
// goes on by itself; a part that does not answer (a crooked part reads 00 00 00 00) is told
// to be reseated after 3 s. Each has its rows; a run that ends while its programmer is lost
// ends with the status of a programmer gone and names it.
TEST_F(ProgProduction, LostProgrammersAndCrookedPartsAreToldAndComeBack) {
  const std::string crooked = "reply-byte:0x72:12:0 reply-byte:0x72:13:0 reply-byte:0x72:14:0 "
                              "reply-byte:0x72:15:0";
  const struct {
    const char* name;
    std::string faults;
    std::string shows;
    bool interrupt;  // Ctrl-C where the fault shows, rather than mending it
    int exit;
    std::vector<std::string> events;
    std::string code;  // of the fault's row
  } cases[] = {
      {"cable pulled", "disconnect:1", "; LOST — check the USB cable", false, 0,
       {"start", "lost", "back", "end"}, "-20"},
      {"run ends while lost", "disconnect:1", "; LOST — check the USB cable", true, 3,
       {"start", "lost", "end"}, "-20"},
      {"crooked part", crooked, "programmer 1: no chip answers — reseat the part", false, 0,
       {"start", "reseat", "end"}, "-50"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    std::filesystem::remove(log);
    std::filesystem::remove_all(dir / "state");  // the trace numbers on from its last part
    const auto parts = MakeParts(sockets, 1);
    std::ofstream(sockets / "part1.faults") << c.faults;
    testsupport::LiveProcess process(
        {"sh", "-c", "exec \"$0\" \"$@\" 2>&1", QS71PROG_PATH, "--emulate", "--write",
         image.string(), "--production", "--count", "1", "--log", log.string()},
        {.environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}}});
    std::string line;
    while (process.ReadLine(line) && line.find(c.shows) == std::string::npos) {
    }
    ASSERT_NE(line.find(c.shows), std::string::npos);
    if (c.interrupt) {
      process.Send(SIGINT);
    } else {
      std::filesystem::remove(sockets / "part1.faults");
    }
    std::string rest;
    while (process.ReadLine(line)) rest += line + "\n";
    EXPECT_EQ(process.Wait(), c.exit) << rest;
    EXPECT_EQ(rest.find("; lost: programmer 1\n") != std::string::npos, c.interrupt) << rest;
    const CsvLog parts_log = ReadLog(log);
    std::vector<std::string> events;
    for (const auto& row : parts_log.events) events.push_back(row.at("event"));
    EXPECT_EQ(events, c.events);
    ASSERT_GE(parts_log.events.size(), 3u);
    EXPECT_EQ(parts_log.events[1].at("code"), c.code);
    EXPECT_EQ(parts_log.rows.size(), c.interrupt ? 0u : 1u);
    EXPECT_EQ(HoldsImage(parts[0]), !c.interrupt);
  }
}

// A part the job stopped before touching (an image of another size than its chip's) is to be
// used again, not scrapped.
TEST_F(ProgProduction, APartNeverWrittenIsToBeUsedAgain) {
  const auto parts = MakeParts(sockets, 1);
  std::filesystem::resize_file(parts[0], 0);  // a fresh part of the ID's size
  const ProcessResult run = RunProg(
      {"--emulate", "--write", image.string(), "--production", "--count", "1", "--log",
       log.string()},
      {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}, {"QS71_EMU_ID", "6D610400"}});
  EXPECT_EQ(run.exitCode, 5) << run.err;
  EXPECT_NE(run.out.find("(image-size — part untouched — use it again)"), std::string::npos)
      << run.out;
  const CsvLog parts_log = ReadLog(log);
  ASSERT_EQ(parts_log.rows.size(), 1u);
  EXPECT_EQ(parts_log.rows[0].at("status"), "image-size — part untouched — use it again");
  EXPECT_EQ(parts_log.rows[0].at("code"), "-52");
}

// A programmer lost once a part's write was done leaves a part that holds the image: it is
// WRITTEN, NOT VERIFIED, to be verified, never a FAIL to scrap; and a station that has only
// the job file checks it against the job's image.
TEST_F(ProgProduction, APartWhoseVerifyTheProgrammerLostIsToBeVerified) {
  const auto parts = MakeParts(sockets, 1);
  // Without a blank check the verify's call is the first to begin a comparison (0x79).
  std::ofstream(sockets / "part1.faults") << "no-reply:0x79";
  const testsupport::ProcessResult run = RunProg(
      {"--emulate", "--write", image.string(), "--no-blank-check", "--production", "--count",
       "1", "--log", log.string()},
      {{"QS71_EMU_SOCKET", sockets.string()}});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  const CsvLog parts_log = ReadLog(log);
  ASSERT_EQ(parts_log.rows.size(), 1u) << run.out << run.err;
  EXPECT_EQ(parts_log.rows[0].at("result"), "unverified");
  EXPECT_EQ(parts_log.rows[0].at("status"), "written, not verified — verify it");
  EXPECT_NE(run.out.find("WRITTEN, NOT VERIFIED"), std::string::npos) << run.out;
  std::filesystem::remove(sockets / "part1.faults");
  const std::string job = (dir / "toy.job").string();
  ASSERT_EQ(RunProg({"--make-job", job, "--write", image.string()}).exitCode, 0);
  const Environment environment = {{"QS71_TRUST_DIR", (dir / "none").string()}};
  const struct {
    const char* step;
    int exit;
  } checks[] = {{"--verify", 0}, {"--identify", 0}};
  for (const auto& check : checks) {
    const testsupport::ProcessResult checked = RunProg(
        {"--emulate=" + parts[0].string(), "--job", job, check.step}, environment);
    EXPECT_EQ(checked.exitCode, check.exit) << check.step << checked.out << checked.err;
  }
  const testsupport::ProcessResult blank = RunProg(
      {"--emulate=" + (dir / "blank.otp").string(), "--job", job, "--verify", "--no-locate"},
      environment);
  EXPECT_EQ(blank.exitCode, 8) << blank.out << blank.err;
  EXPECT_NE(blank.err.find("differs from " + job), std::string::npos) << blank.err;
}

// The job is checked before the first part: the number of programmers attached (fewer are
// waited for, more refused) and the image's hash. A run refused touches no part and writes no log; a run let go names its image.
TEST_F(ProgProduction, ChecksTheJobBeforeTheFirstPart) {
  const std::string sha = FileSha256(image.string().c_str());
  const std::string other(64, 'a');
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    int exit;
    std::string says;
  } cases[] = {
      {"more programmers than the bench has", {"--all", "--expect-programmers", "1"}, 2,
       "1 programmers expected, 2 attached:\n"},
      {"another image", {"--all", "--expect-sha256", other}, 11,
       "is not the one expected: its SHA-256 is " + sha + ", --expect-sha256 gives " + other},
      {"as expected", {"--all", "--count", "1", "--expect-programmers", "2", "--job", "lot 7",
                       "--expect-sha256", sha}, 0,
       "job lot 7: " + image.filename().string() + ", 262144 bytes, SHA-256 " + sha.substr(0, 12)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    std::filesystem::remove(log);
    std::filesystem::remove_all(dir / "state");  // the trace numbers on from its last part
    const auto parts = MakeParts(sockets / "1", 1);
    MakeParts(sockets / "2", 1);
    const ProcessResult run = Production(c.arguments, 2);
    EXPECT_EQ(run.exitCode, c.exit) << run.err;
    EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
    EXPECT_EQ(std::filesystem::exists(log), c.exit == 0);
    EXPECT_EQ(HoldsImage(parts[0]), c.exit == 0);
  }
}

// Names in a case of TheRunsFilesAreKeptApart, in the case's own folder: {img} a copy of the
// image, {link} a hard link to it, {log} yesterday's log, {new} a name not made yet, {sub} a
// folder beside them, {chip} the chip file of a single job.
std::string InCaseFolder(std::string text, const std::filesystem::path& folder) {
  for (const char* name : {"img", "link", "log", "new", "sub", "chip"}) {
    const std::string token = std::string("{") + name + "}";
    const std::string path = (folder / name).string();
    for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at)) {
      text.replace(at, token.size(), path);
      at += path.size();
    }
  }
  return text;
}

// The log and the transcript are appended to and the summary written over: two of the run's
// files that are one file (by a link, or two spellings of a name not made yet) would put text
// into the master image or wipe the log's earlier rows. Refused before the first part.
TEST_F(ProgProduction, TheRunsFilesAreKeptApart) {
  const auto parts = MakeParts(sockets, 1);
  std::filesystem::copy_file(parts[0], dir / "blank.otp");
  const std::vector<std::string> production = {"--emulate", "--write", "{img}", "--production",
                                                "--count", "1"};
  const struct {
    const char* name;
    std::vector<std::string> arguments;  // after production's unless a single job's
    const char* kept;                    // as it was before the run, or still missing
    const char* says;
  } cases[] = {
      {"log on the image", {"--log", "{img}"}, "{img}",
       "--log {img} and --write {img} are the same file; give --log another name"},
      {"summary on the log", {"--log", "{log}", "--summary", "{log}"}, "{log}",
       "--summary {log} and --log {log} are the same file; give --summary another name"},
      {"transcript through a hard link",
       {"--emulate={chip}", "--transcript", "{link}", "--write", "{img}"}, "{img}",
       "--transcript {link} and --write {img} are the same file; give --transcript another "
       "name"},
      {"trace on the log", {"--log", "{log}", "--trace", "{log}"}, "{log}",
       "--trace {log} and --log {log} are the same file; give --trace another name"},
      {"two new names of one file", {"--log", "{new}", "--summary", "{sub}/../new"}, "{new}",
       "--summary {sub}/../new and --log {new} are the same file; give --summary another "
       "name"},
      {"log on the trace's write-ahead log", {"--trace", "{sub}/t.db", "--log", "{sub}/t.db-wal"}, "{sub}/t.db-wal",
       "--log {sub}/t.db-wal and the write-ahead log of the trace {sub}/t.db-wal are the same file; give --log "
       "another name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path folder = dir / c.name;
    std::filesystem::create_directories(folder / "sub");
    std::filesystem::copy_file(image, folder / "img");
    std::filesystem::create_hard_link(folder / "img", folder / "link");
    std::ofstream(folder / "log") << "time,host,programmer,part\n2026-12-07T19:40:00Z,b,1,41\n";
    const std::filesystem::path kept = InCaseFolder(c.kept, folder);
    const bool existed = std::filesystem::exists(kept);
    const std::string before = ReadFileText(kept);
    std::vector<std::string> arguments = c.arguments;
    if (!arguments[0].starts_with("--emulate=")) {
      arguments.insert(arguments.begin(), production.begin(), production.end());
    }
    for (std::string& argument : arguments) argument = InCaseFolder(argument, folder);
    const ProcessResult run = RunProg(arguments, {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}});
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_EQ(run.err, "qs71prog: " + InCaseFolder(c.says, folder) + "\n");
    EXPECT_EQ(std::filesystem::exists(kept), existed);
    EXPECT_TRUE(ReadFileText(kept) == before) << kept << " changed";
    EXPECT_TRUE(ReadFileBytes(parts[0]) == blank) << "the part was written";
    std::filesystem::copy_file(dir / "blank.otp", parts[0],  // for the next case
                               std::filesystem::copy_options::overwrite_existing);
  }
}

// The image is read once: a file replaced while the run goes on (qs71gen renames its output
// into place) changes nothing, not even when the new one is a valid image of another size.
TEST_F(ProgProduction, AnImageReplacedMidRunChangesNothing) {
  const auto parts = MakeParts(sockets, 2);
  const std::filesystem::path other = GeneratedImage(dir / "other", "80000h");
  ASSERT_FALSE(other.empty());
  const std::filesystem::path original = dir / "original.bin";
  std::filesystem::copy_file(image, original);
  testsupport::LiveProcess process(
      {QS71PROG_PATH, "--emulate", "--write", image.string(), "--production", "--count", "2",
       "--stop-on-fail", "--log", log.string()},
      {.environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}, {"QS71_EMU_PACE_US", "20"}}});
  std::string line;
  while (process.ReadLine(line) && line != "programmer 1: part 1 in the socket") {
  }
  std::filesystem::rename(other, image);
  EXPECT_EQ(process.Wait(), 0);
  image = original;
  const CsvLog parts_log = ReadLog(log);
  ASSERT_EQ(parts_log.rows.size(), 2u);
  for (size_t i = 0; i < parts.size(); ++i) {
    EXPECT_EQ(parts_log.rows[i].at("result"), "pass");
    EXPECT_TRUE(HoldsImage(parts[i])) << parts[i];
  }
}

// The log is read by spreadsheets and by scripts: a cell never starts a formula, and a row
// never continues a line that an earlier run left without its end.
TEST_F(ProgProduction, LogRowsStandAloneAndRunNoFormula) {
  const struct {
    const char* name;
    std::string imageName;
    std::string logBefore;
    std::string imageCell;
  } cases[] = {
      {"formula", "=1+1.bin", "", "'=1+1.bin"},
      {"torn line", "voice.bin", "time,host\n2026-12-07T19:40:00.123Z,bench", "voice.bin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    MakeParts(sockets, 1);
    std::filesystem::copy_file(image, dir / c.imageName,
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream(log, std::ios::binary) << c.logBefore;
    const ProcessResult run = testsupport::RunProcess(
        {QS71PROG_PATH, "--emulate", "--write", c.imageName, "--production", "--count", "1",
         "--log", log.string()},
        {.folder = dir, .environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = Lines(ReadFileText(log));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(CsvFields(lines.back()).size(), 23u) << lines.back();
    EXPECT_EQ(CsvFields(lines.back())[6], c.imageCell) << lines.back();
  }
}

// A disk that fills up mid-row: the row is cut back off, so the log ends as it was, and the
// run stops before its next part. The disk is a small tmpfs in a mount namespace of this
// test's own.
TEST_F(ProgProduction, AFullDiskLeavesNoTornRow) {
  if (testsupport::RunProcess({"unshare", "-m", "true"}).exitCode != 0) {
    GTEST_SKIP() << "no private mount namespace here (unshare -m needs the right to mount)";
  }
  const auto parts = MakeParts(sockets, 2);
  const std::filesystem::path full = dir / "full";
  std::filesystem::create_directories(full);
  // The log's page is full but for 40 bytes, and the file system has none left after the
  // filler: a row starts to go in and cannot be finished.
  const std::string header = "time,host,programmer,part\n";
  const std::string before = header + std::string(4096 - 40 - header.size() - 1, 'x') + "\n";
  const std::string script =
      "mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 99; printf %s \"$2\" > \"$1/parts.csv\"; "
      "yes x > \"$1/filler\" 2>/dev/null; \"$0\" --emulate --write \"$3\" --production "
      "--count 2 --log \"$1/parts.csv\" >/dev/null 2>&1; echo \"exit=$?\"; cat \"$1/parts.csv\"";
  const ProcessResult run = testsupport::RunProcess(
      {"unshare", "-m", "sh", "-c", script, QS71PROG_PATH, full.string(), before, image.string()},
      {.environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}}});
  if (run.exitCode == 99) GTEST_SKIP() << "tmpfs cannot be mounted here: " << run.err;
  EXPECT_EQ(run.out, "exit=9\n" + before) << run.err;
  // The run's start row is the one that does not fit: no part is made.
  for (const auto& part : parts) {
    EXPECT_EQ(ReadFileBytes(part), blank) << "a part that could not be logged was made";
  }
}

// A row that cannot be written in one programmer's loop ends the others too, a loop waiting for
// a part included. The disk fills once both first parts are logged, while programmer 2 waits for
// a part that never comes and programmer 1 takes its second, whose started row does not fit: the
// log begins with a filler sized from a first run's rows, so that half a row is left in its page
// (a full disk still takes rows into a page it has given). That part is never written. Without
// the stop the run would wait for ever; timeout kills it after a minute.
TEST_F(ProgProduction, AFullLogEndsEveryLoop) {
  if (testsupport::RunProcess({"unshare", "-m", "true"}).exitCode != 0) {
    GTEST_SKIP() << "no private mount namespace here (unshare -m needs the right to mount)";
  }
  const std::vector<std::pair<std::string, std::string>> environment = {
      {"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}, {"QS71_EMU_PROGRAMMERS", "2"}, {"QS71_EMU_PACE_US", "40"}};
  // The first run: the bytes of two start rows, two started rows and two part rows.
  MakeParts(sockets / "1", 1);
  MakeParts(sockets / "2", 1);
  const ProcessResult first = testsupport::RunProcess(
      {QS71PROG_PATH, "--emulate", "--write", image.string(), "--production", "--all", "--count", "1", "--log",
       log.string()},
      {.environment = environment});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  const std::vector<std::string> rows = Lines(ReadFileText(log));
  ASSERT_GE(rows.size(), 7u);
  size_t used = 0;
  size_t startedRow = 0;
  for (size_t i = 1; i < 7; ++i) {
    used += rows[i].size() + 1;
    if (CsvFields(rows[i])[22] == "started") startedRow = rows[i].size() + 1;
  }
  const std::string header = "time,host,programmer,part\n";
  const size_t filler = (2 * 4096 - used - startedRow / 2 - header.size() - 1) % 4096;
  const std::string before = header + std::string(filler, 'x') + "\n";
  std::filesystem::remove_all(sockets);
  const auto parts = MakeParts(sockets / "1", 2);
  MakeParts(sockets / "2", 1);
  const std::filesystem::path full = dir / "full";
  std::filesystem::create_directories(full);
  const std::string script =
      "mount -t tmpfs -o size=64k tmpfs \"$1\" || exit 99; printf %s \"$2\" > \"$1/parts.csv\"; "
      "timeout -s KILL 60 \"$0\" --emulate --write \"$3\" --production --all --count 2 --log \"$1/parts.csv\" "
      ">/dev/null 2>&1 & pid=$!; i=0; while [ \"$(wc -l < \"$1/parts.csv\")\" -lt 8 ] && [ $i -lt 6000 ]; do "
      "sleep 0.01; i=$((i+1)); done; yes x > \"$1/filler\" 2>/dev/null; wait $pid; echo \"exit=$?\"; "
      "cat \"$1/parts.csv\"";
  const ProcessResult run = testsupport::RunProcess(
      {"unshare", "-m", "sh", "-c", script, QS71PROG_PATH, full.string(), before, image.string()},
      {.environment = environment});
  if (run.exitCode == 99) GTEST_SKIP() << "tmpfs cannot be mounted here: " << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  // The code, the filler's two lines, each programmer's start, started and first part rows; no
  // row torn.
  ASSERT_EQ(lines.size(), 9u) << run.out << run.err;
  EXPECT_EQ(lines[0], "exit=9");
  std::map<std::string, int> events;
  for (size_t i = 3; i < lines.size(); ++i) {
    ASSERT_EQ(CsvFields(lines[i]).size(), 23u) << lines[i];
    ++events[CsvFields(lines[i])[22]];
  }
  EXPECT_EQ(events, (std::map<std::string, int>{{"part", 2}, {"start", 2}, {"started", 2}}));
  EXPECT_EQ(ReadFileBytes(parts[1]), blank) << "a part that could not be logged was made";
}

// A part's verdict that the trace cannot take (another writer holds the trace past its wait, as
// a full disk under it would refuse it) still goes into the log: the part was made. The screen
// says which record lacks it, and the run ends with exit 9.
TEST_F(ProgProduction, AVerdictTheTraceCannotTakeIsStillLogged) {
  const auto parts = MakeParts(sockets, 1);
  const std::filesystem::path trace = dir / "held.db";
  const std::string script =
      "\"$0\" --emulate --write \"$1\" --production --count 1 --log \"$2\" --trace \"$3\" >/dev/null 2>\"$3.err\" & "
      "pid=$!; i=0; while ! grep -q ',started$' \"$2\" 2>/dev/null && [ $i -lt 6000 ]; do sleep 0.01; i=$((i+1)); "
      "done; sqlite3 \"$3\" '.timeout 5000' 'BEGIN IMMEDIATE' '.shell sleep 12' 'COMMIT'; wait $pid; echo \"exit=$?\"";
  const ProcessResult run = testsupport::RunProcess(
      {"sh", "-c", script, QS71PROG_PATH, image.string(), log.string(), trace.string()},
      {.environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}, {"QS71_EMU_PACE_US", "60"}}});
  EXPECT_EQ(run.out, "exit=9\n") << run.err;
  const std::string err = ReadFileText(trace.string() + ".err");
  EXPECT_NE(err.find("programmer 1 part 1: passed, not in the trace\n"), std::string::npos) << err;
  EXPECT_NE(err.find("exit 9 (file-error)"), std::string::npos) << err;
  const CsvLog rows = ReadLog(log);
  ASSERT_EQ(rows.rows.size(), 1u);
  EXPECT_EQ(rows.rows[0].at("result"), "pass");
  EXPECT_TRUE(HoldsImage(parts[0]));
}

// A reader that goes away (qs71prog ... | head) stops neither the parts nor their log.
TEST_F(ProgProduction, AClosedPipeStopsNothing) {
  const auto parts = MakeParts(sockets, 2);
  const std::filesystem::path status = dir / "status";
  const ProcessResult run = testsupport::RunProcess(
      {"sh", "-c",
       "(\"$0\" --emulate --write \"$1\" --production --count 2 --log \"$2\"; "
       "echo $? > \"$3\") | head -n 1",
       QS71PROG_PATH, image.string(), log.string(), status.string()},
      {.environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}, {"QS71_EMU_PACE_US", "20"}}});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFileText(status), "0\n");
  const CsvLog parts_log = ReadLog(log);
  ASSERT_EQ(parts_log.rows.size(), 2u);
  for (const auto& part : parts) EXPECT_TRUE(HoldsImage(part)) << part;
}

// A second SIGTERM with --all cancels every part under way; each is logged as aborted, with
// the time its steps had, before the process ends.
TEST_F(ProgProduction, ASecondSigtermLogsEveryPartUnderWay) {
  const auto first = MakeParts(sockets / "1", 1);
  const auto second = MakeParts(sockets / "2", 1);
  // Standard error joins standard output, where the answer to the first signal comes.
  testsupport::LiveProcess process(
      {"sh", "-c", "exec \"$0\" \"$@\" 2>&1", QS71PROG_PATH, "--emulate", "--write",
       image.string(), "--no-blank-check", "--production", "--all", "--count", "1", "--log",
       log.string()},
      {.environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()},
                       {"QS71_EMU_PROGRAMMERS", "2"},
                       {"QS71_EMU_PACE_US", "1000"}}});
  int inSocket = 0;
  std::string line;
  while (inSocket < 2 && process.ReadLine(line)) {
    inSocket += std::regex_search(line, std::regex(": part [12] in the socket"));
  }
  ASSERT_EQ(inSocket, 2);
  // Both writes under way: their parts have begun to change.
  for (const auto& part : {first[0], second[0]}) {
    for (int look = 0; look < 3000 && ReadFileBytes(part) == blank; ++look) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(ReadFileBytes(part), blank) << part << " was never written";
  }
  process.Send(SIGTERM);
  while (process.ReadLine(line) && line.find("the part under way will be") == std::string::npos) {
  }
  EXPECT_NE(line.find("SIGTERM: the part under way"), std::string::npos) << line;
  process.Send(SIGTERM);
  EXPECT_EQ(process.Wait(), 13);
  const CsvLog parts_log = ReadLog(log);
  ASSERT_EQ(parts_log.rows.size(), 2u);
  for (const auto& row : parts_log.rows) {
    EXPECT_EQ(row.at("status"), "aborted — reject the part");
    EXPECT_FALSE(row.at("write_s").empty());
  }
}

// Ctrl-C while a part is programmed: that part is finished and logged, the next one stays in
// the socket, and the run ends with the interrupted status.
TEST_F(ProgProduction, CtrlCEndsTheRunAfterThePartUnderWay) {
  const auto parts = MakeParts(sockets, 2);
  testsupport::LiveProcess process(
      {QS71PROG_PATH, "--emulate", "--write", image.string(), "--production", "--log",
       log.string()},
      {.environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}, {"QS71_EMU_PACE_US", "100"}}});
  ASSERT_TRUE(process.Started());
  std::string line;
  while (process.ReadLine(line) && line != "programmer 1: part 1 in the socket") {
  }
  ASSERT_EQ(line, "programmer 1: part 1 in the socket");
  process.Send(SIGINT);
  EXPECT_EQ(process.Wait(), 12);
  const CsvLog parts_log = ReadLog(log);
  ASSERT_EQ(parts_log.rows.size(), 1u);
  EXPECT_EQ(parts_log.rows[0].at("result"), "pass");
  EXPECT_TRUE(HoldsImage(parts[0]));
  EXPECT_EQ(ReadFileBytes(parts[1]), blank);
}


// Waits until the log holds a row of this event (a part's first write under way, a verdict).
bool LogGets(const std::filesystem::path& log, const std::string& event) {
  for (int look = 0; look < 3000; ++look) {
    const std::string text = std::filesystem::exists(log) ? ReadFileText(log) : "";
    if (text.find("," + event + "\n") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// A run killed during a write leaves its part's started row without an end: the next run of
// the log reports it and numbers its own parts after it.
TEST_F(ProgProduction, ACrashLeavesATraceTheNextRunReports) {
  const auto first = MakeParts(sockets / "first", 1);
  testsupport::LiveProcess crashed(
      {QS71PROG_PATH, "--emulate", "--write", image.string(), "--production", "--log",
       log.string()},
      {.environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", (sockets / "first").string()},
                       {"QS71_EMU_PACE_US", "1000"}}});
  ASSERT_TRUE(LogGets(log, "started"));
  for (int look = 0; look < 3000 && ReadFileBytes(first[0]) == blank; ++look) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  crashed.Send(SIGKILL);
  crashed.Wait();
  ASSERT_EQ(ReadLog(log).started.size(), 1u);
  const std::string run = ReadLog(log).started[0].at("run");
  EXPECT_EQ(ReadLog(log).started[0].at("part"), "1");
  EXPECT_TRUE(ReadLog(log).rows.empty());

  // The next run keeps no log of the first's: what it reports comes from the trace.
  MakeParts(sockets / "second", 1);
  const std::filesystem::path nextLog = dir / "next.csv";
  const ProcessResult next = RunProg(
      {"--emulate", "--write", image.string(), "--production", "--count", "1", "--log",
       nextLog.string()},
      {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", (sockets / "second").string()}});
  EXPECT_EQ(next.exitCode, 0) << next.err;
  EXPECT_NE((next.out + next.err)
                .find("1 part of run " + run + " was under way when it stopped (QS71EMU-01 part "
                      "1): check it with qs71prog --verify " + image.string()),
            std::string::npos)
      << next.out << next.err;
  const CsvLog after = ReadLog(nextLog);
  ASSERT_EQ(after.rows.size(), 1u);
  EXPECT_EQ(after.rows[0].at("part"), "2");
  ASSERT_EQ(after.started.size(), 1u);

  // The trace gives each run's log back byte for byte, the crashed one's too.
  const struct {
    std::string run;
    std::filesystem::path log;
  } exports[] = {{run, log}, {after.rows[0].at("run"), nextLog}};
  for (const auto& e : exports) {
    const std::filesystem::path exported = dir / ("export-" + e.run + ".csv");
    const ProcessResult written = RunProg({"--export-csv", exported.string(), "--run", e.run});
    EXPECT_EQ(written.exitCode, 0) << written.err;
    EXPECT_EQ(ReadFileText(exported), ReadFileText(e.log)) << e.run;
  }
}

// A station that has only the job file can follow the crash's advice: for a job's run it names
// the job, which --verify checks a part against.
TEST_F(ProgProduction, ACrashedJobsAdviceNamesTheJob) {
  const std::string job = (dir / "toy.job").string();
  ASSERT_EQ(RunProg({"--make-job", job, "--write", image.string()}).exitCode, 0);
  const Environment environment = {{"QS71_EMU_OPERATOR", "0"},
                                   {"QS71_EMU_SOCKET", (sockets / "first").string()},
                                   {"QS71_EMU_PACE_US", "1000"},
                                   {"QS71_TRUST_DIR", (dir / "none").string()}};
  const auto first = MakeParts(sockets / "first", 1);
  testsupport::LiveProcess crashed(
      {QS71PROG_PATH, "--emulate", "--job", job, "--production", "--log", log.string()},
      {.environment = environment});
  ASSERT_TRUE(LogGets(log, "started"));
  crashed.Send(SIGKILL);
  crashed.Wait();
  const std::string run = ReadLog(log).started.at(0).at("run");

  std::filesystem::create_directories(sockets / "second");
  Environment next = environment;
  next[1].second = (sockets / "second").string();
  testsupport::LiveProcess again({"sh", "-c", "exec \"$0\" \"$@\" 2>&1", QS71PROG_PATH,
                                  "--emulate", "--job", job, "--production"},
                                 {.environment = next});
  std::string line, seen;
  while (again.ReadLine(line) && line.find("was under way when it stopped") == std::string::npos) {
    seen += line + "\n";
  }
  again.Send(SIGTERM);
  while (again.ReadLine(seen)) {
  }
  again.Wait();
  EXPECT_NE(line.find("1 part of run " + run + " was under way when it stopped (QS71EMU-01 part "
                      "1): check it with qs71prog --job " + job + " --verify"),
            std::string::npos)
      << seen << line;
  const ProcessResult checked =
      RunProg({"--emulate=" + first[0].string(), "--job", job, "--verify"},
              {{"QS71_TRUST_DIR", (dir / "none").string()}});
  EXPECT_NE(checked.exitCode, 2) << checked.out << checked.err;  // the advice is a command that runs
}

// A part that passed and is put in again holds the image already: it is taken out as ALREADY,
// counted apart, with no number of its own; a part written with another image stays a
// not-blank failure.
TEST_F(ProgProduction, APartMadeBeforeIsNotScrapped) {
  const auto made = MakeParts(sockets / "made", 2);
  ASSERT_EQ(RunProg({"--emulate=" + made[0].string(), "--write", image.string()}).exitCode, 0);
  ASSERT_EQ(RunProg({"--emulate=" + made[1].string(), "--write", AlteredImage().string()}).exitCode,
            0);
  const struct {
    const char* name;
    size_t part;  // of made
    const char* rowResult;
    int exit;
    const char* endCounts;
  } cases[] = {
      {"same image", 0, "already", 0, "passed 1 failed 0 yield 100.0% already 1"},
      {"another image", 1, "fail", 6, "passed 1 failed 1 yield 50.0%"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets / "run");
    std::filesystem::remove(log);
    std::filesystem::remove_all(dir / "state");  // the trace numbers on from its last part
    MakeParts(sockets / "run", 2);
    std::filesystem::copy_file(made[c.part], sockets / "run" / "part1.otp",
                               std::filesystem::copy_options::overwrite_existing);
    const ProcessResult run = RunProg(
        {"--emulate", "--write", image.string(), "--production", "--count", "2", "--log",
         log.string()},
        {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", (sockets / "run").string()}});
    EXPECT_EQ(run.exitCode, c.exit) << run.out << run.err;
    const CsvLog parts_log = ReadLog(log);
    ASSERT_GE(parts_log.rows.size(), 1u);
    EXPECT_EQ(parts_log.rows[0].at("result"), c.rowResult);
    EXPECT_EQ(parts_log.rows[0].at("part"), c.exit == 0 ? "0" : "1");
    ASSERT_FALSE(parts_log.events.empty());
    EXPECT_EQ(parts_log.events.back().at("status").substr(0, std::string(c.endCounts).size()),
              c.endCounts);
  }
}

// The run's exit is its first failure in time, whichever programmer had it; the end rows
// and the summary carry that exit, how the run ended and who ran it.
TEST_F(ProgProduction, TheFirstFailureInTimeIsTheRunsExit) {
  MakeParts(sockets / "1", 1);
  std::ofstream(sockets / "1" / "part1.faults") << "stuck:" << ProgrammedCell();
  const auto written = MakeParts(sockets / "2", 1);
  ASSERT_EQ(RunProg({"--emulate=" + written[0].string(), "--write", AlteredImage().string()})
                .exitCode,
            0);
  const std::filesystem::path summary = dir / "shift.json";
  const ProcessResult run = RunProg(
      {"--emulate", "--write", image.string(), "--production", "--all", "--count", "1", "--log",
       log.string(), "--summary", summary.string(), "--operator", "Ann", "--station", "bench 4"},
      {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}, {"QS71_EMU_PROGRAMMERS", "2"},
       {"QS71_EMU_PACE_US", "50"}});
  EXPECT_EQ(run.exitCode, 6) << run.out << run.err;  // programmer 2's not-blank came first
  const CsvLog parts_log = ReadLog(log);
  std::vector<std::string> ends;
  for (const auto& row : parts_log.events) {
    if (row.at("event") == "end") ends.push_back(row.at("exit") + " " + row.at("status"));
  }
  EXPECT_EQ(ends, (std::vector<std::string>{
                      "6 passed 0 failed 1 yield 0.0%; ended: count reached",
                      "6 passed 0 failed 1 yield 0.0%; ended: count reached"}));
  const std::string json = ReadFileText(summary);
  for (const std::string& field :
       {"\"run\": \"" + parts_log.events[0].at("run") + "\"", std::string("\"station\": \"bench 4\""),
        std::string("\"operator\": \"Ann\""),
        "\"image_sha256\": \"" + FileSha256(image.string().c_str()) + "\"",
        std::string("\"exit\": 6"), std::string("\"ended\": \"count reached\""),
        std::string("\"start\": \""), std::string("\"end\": \"")}) {
    EXPECT_NE(json.find(field), std::string::npos) << field << "\n" << json;
  }
}

// --no-verify makes parts that nobody compared: never a pass.
TEST_F(ProgProduction, AnUnverifiedPartIsNoPass) {
  MakeParts(sockets, 1);
  const ProcessResult run = Production({"--count", "1", "--no-verify"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const CsvLog parts_log = ReadLog(log);
  ASSERT_EQ(parts_log.rows.size(), 1u);
  EXPECT_EQ(parts_log.rows[0].at("result"), "unverified");
  EXPECT_EQ(parts_log.rows[0].at("status"), "written, not verified");
  EXPECT_EQ(parts_log.rows[0].at("part"), "1");
}

// The log's folder removed, or the trace deleted or replaced, while the run waits for a part:
// the run ends with 9 before the part is touched, saying so, instead of writing rows into a
// file nobody can see.
TEST_F(ProgProduction, ALogOrTraceThatIsGoneEndsTheRunBeforeTheNextPart) {
  const std::filesystem::path files = dir / "files";
  const std::string trace = (files / "trace.db").string();
  const std::string state = (dir / "state").string();
  const std::string parts = (files / "parts.csv").string();
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::function<void()> fault;
    std::string says;  // on the screen, and as how the run ended wherever that is told
    std::string traced;  // the trace that keeps the run's end
  } cases[] = {
      {"the log's folder removed", {"--log", parts},
       [&] { std::filesystem::remove_all(files); },
       "the log " + parts + " is gone: it was deleted or its folder removed",
       state + "/qs71/trace.db"},
      {"the trace deleted", {"--trace", trace, "--log", log.string()},
       [&] {
         for (const char* end : {"", "-wal", "-shm"}) std::filesystem::remove(trace + end);
       },
       "the trace " + trace + " is gone: it was deleted or its folder removed", ""},
      {"the trace replaced", {"--trace", trace, "--log", log.string()},
       [&] {
         std::filesystem::copy_file(trace, trace + ".new");
         std::filesystem::rename(trace + ".new", trace);
       },
       "the trace " + trace + " was renamed or replaced by another file", trace},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    std::filesystem::create_directories(sockets);
    std::filesystem::create_directories(files);
    std::filesystem::remove(log);
    std::filesystem::remove_all(state);
    std::vector<std::string> command = {"sh", "-c", "exec \"$0\" \"$@\" 2>&1", QS71PROG_PATH,
                                        "--emulate", "--write", image.string(), "--production",
                                        "--count", "1", "--summary", (dir / "summary.json").string()};
    command.insert(command.end(), c.arguments.begin(), c.arguments.end());
    testsupport::LiveProcess process(command,
                                     {.environment = {{"QS71_EMU_OPERATOR", "0"},
                                                      {"QS71_EMU_SOCKET", sockets.string()},
                                                      {"XDG_STATE_HOME", state}}});
    std::string line;
    while (process.ReadLine(line) && line != "programmer 1: waiting for a part") {
    }
    ASSERT_EQ(line, "programmer 1: waiting for a part");
    c.fault();
    const auto made = MakeParts(dir / "later", 1);
    std::filesystem::copy_file(made[0], sockets / "part1.otp");
    std::string rest;
    while (process.ReadLine(line)) rest += line + "\n";
    EXPECT_EQ(process.Wait(), 9) << rest;
    EXPECT_NE(rest.find(c.says + "; the run ends"), std::string::npos) << rest;
    EXPECT_NE(rest.find("qs71prog: production ended (" + c.says + "): "), std::string::npos)
        << rest;
    EXPECT_EQ(ReadFileBytes(sockets / "part1.otp"), blank) << "a part that cannot be logged was made";
    EXPECT_NE(ReadFileText(dir / "summary.json").find("\"ended\": \"" + c.says + "\""),
              std::string::npos)
        << ReadFileText(dir / "summary.json");
    if (std::filesystem::exists(log)) {
      const CsvLog rows = ReadLog(log);
      ASSERT_FALSE(rows.events.empty());
      EXPECT_EQ(rows.events.back().at("event"), "end");
      EXPECT_EQ(rows.events.back().at("status"), "passed 0 failed 0 yield -; ended: " + c.says);
    }
    if (!c.traced.empty()) {
      const ProcessResult how =
          testsupport::RunProcess({"sqlite3", c.traced, "SELECT how FROM runs WHERE how <> ''"});
      EXPECT_EQ(how.out, c.says + "\n") << how.err;
    }
    std::filesystem::remove_all(files);
    std::filesystem::remove_all(dir / "later");
  }
}

// A launcher that ignores Ctrl-C keeps it ignored; the run says how to stop it instead.
TEST_F(ProgProduction, ARunWithCtrlCIgnoredSaysHowToStopIt) {
  MakeParts(sockets, 1);
  const ProcessResult run = testsupport::RunProcess(
      {"sh", "-c", "trap '' INT; exec \"$0\" \"$@\"", QS71PROG_PATH, "--emulate", "--write",
       image.string(), "--production", "--count", "1"},
      {.environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}}});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE((run.out + run.err).find("Ctrl-C is ignored: the program that started qs71prog "
                                     "ignores it; stop the run with kill -TERM "),
            std::string::npos)
      << run.out << run.err;
}

// The emulator's files are parts: a run's text never goes into one, and a dry run refused for
// the chip's size leaves no chip behind and says how to emulate the right part.
TEST_F(ProgProduction, TheEmulatorsPartsAreNoRunsFiles) {
  const auto parts = MakeParts(sockets, 1);
  const std::filesystem::path chip = dir / "chip.otp";
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    Environment environment;
    int exit;
    std::string says;
  } cases[] = {
      {"transcript into the chip file",
       {"--emulate=" + chip.string(), "--transcript", chip.string(), "--write", image.string()},
       {}, 2,
       "--transcript " + chip.string() + " and the emulated chip file " + chip.string() +
           " are the same file; give --transcript another name"},
      {"log onto a socket's part",
       {"--emulate", "--write", image.string(), "--production", "--log", parts[0].string()},
       {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}}, 2,
       "--log " + parts[0].string() + " and the socket's part " + parts[0].string() +
           " are the same file; give --log another name"},
      {"log as a new part",
       {"--emulate", "--write", image.string(), "--production", "--log",
        (sockets / "log.otp").string()},
       {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}}, 2,
       "--log " + (sockets / "log.otp").string() +
           " would be taken for a part: its folder feeds an emulated socket; give --log a name "
           "outside it"},
      {"chip of another size",
       {"--emulate=" + chip.string(), "--write", image.string()},
       {{"QS71_EMU_ID", "6D610400"}}, 5,
       "the emulated chip is the part QS71_EMU_ID names: QS71_EMU_ID=6D610200 makes one of "
       "262144 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ProcessResult run = RunProg(c.arguments, c.environment);
    EXPECT_EQ(run.exitCode, c.exit) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
    EXPECT_FALSE(std::filesystem::exists(chip));
    EXPECT_EQ(ReadFileBytes(parts[0]), blank);
  }
}

// Reads the live run's output until a line holds text; false when the output ends first.
bool ReadUntil(testsupport::LiveProcess& process, const std::string& text, std::string* seen) {
  std::string line;
  while (process.ReadLine(line)) {
    if (seen != nullptr) *seen += line + "\n";
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

// A programmer is its serial: pulled and plugged in on another path it is found again there,
// and another programmer plugged into its old path is not taken for it. The bus file lists
// what is attached, and is read at every call.
TEST_F(ProgProduction, AProgrammerIsFoundAgainByItsSerial) {
  const struct {
    const char* name;
    const char* busAfter;
    bool back;
    int exit;
    std::vector<std::string> events;
  } cases[] = {
      {"back on another path", "1 emulated:07 QS71EMU-01\n", true, 0,
       {"start", "lost", "back", "end"}},
      {"another one on its path", "2 emulated:01 QS71EMU-02\n", false, 3,
       {"start", "lost", "end"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    std::filesystem::remove(log);
    std::filesystem::remove_all(dir / "state");  // the trace numbers on from its last part
    std::filesystem::create_directories(sockets / "1");
    std::filesystem::create_directories(sockets / "2");
    const std::filesystem::path bus = dir / "bus";
    std::ofstream(bus) << "1 emulated:01 QS71EMU-01\n";
    testsupport::LiveProcess process(
        {"sh", "-c", "exec \"$0\" \"$@\" 2>&1", QS71PROG_PATH, "--emulate", "--write",
         image.string(), "--production", "--count", "1", "--log", log.string()},
        {.environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()},
                         {"QS71_EMU_PROGRAMMERS", "2"},
                         {"QS71_EMU_BUS", bus.string()}}});
    std::string seen;
    ASSERT_TRUE(ReadUntil(process, "programmer 1: waiting for a part", &seen)) << seen;
    std::ofstream(bus, std::ios::trunc) << "";
    ASSERT_TRUE(ReadUntil(process, "LOST — check the USB cable", &seen)) << seen;
    std::ofstream(bus, std::ios::trunc) << c.busAfter;
    if (c.back) {
      ASSERT_TRUE(ReadUntil(process, "back: emulated:07 answers again", &seen)) << seen;
      MakeParts(sockets / "1", 1);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      process.Send(SIGINT);
    }
    std::string line;
    while (process.ReadLine(line)) seen += line + "\n";
    EXPECT_EQ(process.Wait(), c.exit) << seen;
    const CsvLog parts_log = ReadLog(log);
    std::vector<std::string> events;
    for (const auto& row : parts_log.events) events.push_back(row.at("event"));
    EXPECT_EQ(events, c.events);
    ASSERT_EQ(parts_log.rows.size(), c.back ? 1u : 0u);
    if (c.back) {
      EXPECT_EQ(parts_log.rows[0].at("programmer"), "QS71EMU-01");
      EXPECT_EQ(parts_log.rows[0].at("programmer_path"), "emulated:07");
      EXPECT_EQ(parts_log.rows[0].at("result"), "pass");
    }
  }
}

// --all takes a programmer plugged in after the start; --expect-programmers waits for the
// bench's count before the first part.
TEST_F(ProgProduction, ProgrammersPluggedInLaterJoinTheRun) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    const char* waitFor;  // before the second programmer is plugged in
    int exit;
  } cases[] = {
      {"--all", {"--all"}, "programmer 1 part 1: PASS", 12},
      {"--expect-programmers", {"--all", "--expect-programmers", "2", "--count", "1"},
       "waiting for 2 programmers, 1 attached", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(sockets);
    std::filesystem::remove(log);
    std::filesystem::remove_all(dir / "state");  // the trace numbers on from its last part
    const auto first = MakeParts(sockets / "1", 1);
    const auto second = MakeParts(sockets / "2", 1);
    const std::filesystem::path bus = dir / "bus";
    std::ofstream(bus) << "1 emulated:01 QS71EMU-01\n";
    std::vector<std::string> command = {"sh", "-c", "exec \"$0\" \"$@\" 2>&1", QS71PROG_PATH,
                                        "--emulate", "--write", image.string(), "--production",
                                        "--log", log.string()};
    command.insert(command.end(), c.arguments.begin(), c.arguments.end());
    testsupport::LiveProcess process(command, {.environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()},
                                                               {"QS71_EMU_PROGRAMMERS", "2"},
                                                               {"QS71_EMU_BUS", bus.string()}}});
    std::string seen;
    ASSERT_TRUE(ReadUntil(process, c.waitFor, &seen)) << seen;
    std::ofstream(bus, std::ios::app) << "2 emulated:02 QS71EMU-02\n";
    if (c.exit != 0) {
      // Programmer 1 took the job's first number before programmer 2 came.
      ASSERT_TRUE(ReadUntil(process, "programmer 2 part 2: PASS", &seen)) << seen;
      process.Send(SIGINT);
    }
    std::string line;
    while (process.ReadLine(line)) seen += line + "\n";
    EXPECT_EQ(process.Wait(), c.exit) << seen;
    EXPECT_TRUE(HoldsImage(first[0]));
    EXPECT_TRUE(HoldsImage(second[0]));
    std::map<std::string, int> perProgrammer;
    for (const auto& row : ReadLog(log).rows) ++perProgrammer[row.at("programmer")];
    EXPECT_EQ(perProgrammer, (std::map<std::string, int>{{"QS71EMU-01", 1}, {"QS71EMU-02", 1}}));
  }
}
// A job's lot of good parts counts over its runs in the station's trace: the run that makes
// its last part ends at once (15) without waiting for a part it may not make, and the job
// runs no more.
TEST_F(ProgProduction, ALotEndsTheRunAndTheJob) {
  const std::string job = (dir / "toy.job").string();
  ASSERT_EQ(RunProg({"--make-job", job, "--write", image.string(), "--lot", "3"}).exitCode, 0);
  const Environment environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()},
                                   {"QS71_TRUST_DIR", (dir / "none").string()}};
  MakeParts(sockets, 3);
  const ProcessResult made = RunProg({"--emulate", "--job", job, "--production", "--log", log.string()},
                                     environment);
  EXPECT_EQ(made.exitCode, 15) << made.out << made.err;
  EXPECT_NE(made.out.find("lot 3: 2 good, 0 scrap, 1 to go"), std::string::npos) << made.out;
  std::vector<std::string> numbers;
  for (const auto& row : ReadLog(log).rows) numbers.push_back(row.at("part"));
  EXPECT_EQ(numbers, (std::vector<std::string>{"1", "2", "3"}));
  const ProcessResult again = RunProg({"--emulate", "--job", job, "--production"}, environment);
  EXPECT_EQ(again.exitCode, 15);
  EXPECT_NE(again.err.find("is complete (3 good parts of 3, 0 scrap"), std::string::npos)
      << again.err;
}

// Every attempt on a part is a part of the trace with its verdict and step: a part that fails
// its blank check too, and again under a number of its own when it is put in again. The lot
// counts good parts and scrap apart, the status line counts each part as soon as it has its
// verdict, and the report's fail count and yield are those of the physical parts.
TEST_F(ProgProduction, EveryAttemptIsAPartOfItsOwn) {
  const std::string job = (dir / "toy.job").string();
  ASSERT_EQ(RunProg({"--make-job", job, "--write", image.string(), "--lot", "3"}).exitCode, 0);
  const std::string state = (dir / "state").string();
  const Environment environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()},
                                   {"QS71_TRUST_DIR", (dir / "none").string()},
                                   {"XDG_STATE_HOME", state}};
  // A part written before, a good one, and one with a stuck cell.
  const auto parts = MakeParts(sockets, 3);
  ASSERT_EQ(RunProg({"--emulate=" + parts[0].string(), "--write", AlteredImage().string()}).exitCode,
            0);
  std::ofstream(sockets / "part3.faults") << "stuck:" << ProgrammedCell();
  testsupport::LiveProcess run({QS71PROG_PATH, "--emulate", "--job", job, "--production"},
                               {.environment = environment});
  std::string line, seen;
  while (run.ReadLine(line) && line.rfind("programmer 1 part 2: ", 0) != 0) seen += line + "\n";
  seen += line + "\n";
  // The part that failed its blank check, taken out and put in again; two blank ones behind it,
  // each made apart and put in whole.
  std::filesystem::rename(sockets / "out" / "part1.otp", sockets / "part4.otp");
  const auto more = MakeParts(dir / "more", 2);
  std::filesystem::rename(more[0], sockets / "part5.otp");
  std::filesystem::rename(more[1], sockets / "part6.otp");
  while (run.ReadLine(line)) seen += line + "\n";
  EXPECT_EQ(run.Wait(), 6) << seen;  // the first failure: not blank
  for (const char* text : {"programmer 1 part 1: FAIL", "programmer 1 part 3: FAIL",
                           "programmer 1 part 4: FAIL", "programmer 1 part 6: PASS"}) {
    EXPECT_NE(seen.find(text), std::string::npos) << text << "\n" << seen;
  }
  // The lot's line counts a part with its verdict, before the part is taken out.
  for (const char* lot : {"lot 3: 1 good, 2 scrap, 2 to go\nprogrammer 1: take the part out",
                          "lot 3: 1 good, 3 scrap, 2 to go\nprogrammer 1: take the part out",
                          "lot 3: 3 good, 3 scrap, 0 to go\n"}) {
    EXPECT_NE(seen.find(lot), std::string::npos) << lot << "\n" << seen;
  }
  const ProcessResult rows = testsupport::RunProcess(
      {"sqlite3", state + "/qs71/trace.db", "SELECT number, result, step FROM parts ORDER BY number"});
  EXPECT_EQ(rows.out,
            "1|fail|blank-check\n2|pass|verify\n3|fail|verify\n4|fail|blank-check\n5|pass|verify\n"
            "6|pass|verify\n")
      << rows.err;
  const ProcessResult report = RunProg({"--report", "-"}, environment);
  EXPECT_EQ(report.exitCode, 0) << report.err;
  for (const char* figures :
       {"\nall      6     3     3           0        0        0          0     0  50.0%     1 ",
        "\nnot-blank — reject the part            2       66.7%\n",
        "\nblank-check      2       66.7%\nverify           1      100.0%\n"}) {
    EXPECT_NE(report.out.find(figures), std::string::npos) << figures << "\n" << report.out;
  }
}

// Names in a trace that another program (or an older qs71prog) wrote reach a terminal as
// text: the report shows their control characters escaped, so that none acts on the screen.
TEST_F(ProgProduction, AReportShowsNamesWithoutLettingTheTerminalActOnThem) {
  MakeParts(sockets, 1);
  const std::string state = (dir / "state").string();
  const Environment environment = {{"XDG_STATE_HOME", state}};
  const ProcessResult run = RunProg(
      {"--emulate", "--write", image.string(), "--production", "--count", "1", "--operator", "ann"},
      {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", sockets.string()}, {"XDG_STATE_HOME", state}});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const ProcessResult changed = testsupport::RunProcess(
      {"sqlite3", state + "/qs71/trace.db",
       "UPDATE runs SET operator_name = char(27) || '[2J' || char(27) || ']0;owned' || char(7) || "
       "'ann', station = 'st' || char(13) || 'x'"});
  ASSERT_EQ(changed.exitCode, 0) << changed.err;
  const ProcessResult report = RunProg({"--report", "-"}, environment);
  EXPECT_EQ(report.exitCode, 0) << report.err;
  for (const char control : {'\x1b', '\x07', '\r'}) {
    EXPECT_EQ(report.out.find(control), std::string::npos) << static_cast<int>(control);
  }
  EXPECT_NE(report.out.find("\n\\x1B[2J\\x1B]0;owned\\x07ann "), std::string::npos) << report.out;
}

}  // namespace
}  // namespace qs71prog::test
