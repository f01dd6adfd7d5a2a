#include "production/production_log.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "file_contents.h"
#include "test_scratch.h"

namespace qs71prog {
namespace {

struct FieldCase {
  const char* name;
  std::string text;
  std::string field;
};

class CsvFields : public testing::TestWithParam<FieldCase> {};

TEST_P(CsvFields, AreQuotedOnlyWhenTheyMustBe) {
  EXPECT_EQ(CsvField(GetParam().text), GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(
    Rfc4180, CsvFields,
    testing::Values(FieldCase{"Plain", "/tmp/a b/demo.bin", "/tmp/a b/demo.bin"},
                    FieldCase{"Empty", "", ""}, FieldCase{"Comma", "a,b.bin", "\"a,b.bin\""},
                    FieldCase{"Quote", "say \"hi\".bin", "\"say \"\"hi\"\".bin\""},
                    FieldCase{"LineEnd", "a\nb", "\"a\nb\""},
                    FieldCase{"CarriageReturn", "a\rb", "\"a\rb\""}),
    [](const testing::TestParamInfo<FieldCase>& info) { return info.param.name; });

struct CellCase {
  const char* name;
  std::string text;
  std::string cell;
};

class SpreadsheetCells : public testing::TestWithParam<CellCase> {};

TEST_P(SpreadsheetCells, NeverStartAFormula) { EXPECT_EQ(Neutralised(GetParam().text), GetParam().cell); }

INSTANTIATE_TEST_SUITE_P(
    CsvInjection, SpreadsheetCells,
    testing::Values(CellCase{"Equals", "=1+1.bin", "'=1+1.bin"}, CellCase{"Plus", "+x", "'+x"},
                    CellCase{"Minus", "-cmd", "'-cmd"},
                    CellCase{"NegativeNumber", "-20", "-20"}, CellCase{"MinusOnly", "-", "'-"}, CellCase{"At", "@SUM(A1)", "'@SUM(A1)"},
                    CellCase{"Tab", "\t=1", "'\t=1"}, CellCase{"CarriageReturn", "\r=1", "'\r=1"},
                    CellCase{"Inside", "a=1+1", "a=1+1"}, CellCase{"Empty", "", ""}),
    [](const testing::TestParamInfo<CellCase>& info) { return info.param.name; });

PartRecord Record(const std::string& key, int part, const std::string& event = "part") {
  PartRecord record;
  record.time = "2026-12-07T19:40:00.123Z";
  record.programmerKey = key;
  record.part = part;
  record.event = event;
  record.run = "20261207T194000Z-4711";
  return record;
}

TEST(CsvRows, ColumnsInTheirOrderWithOnlyTheStepsThatRan) {
  PartRecord record = Record("SN-0042", 7);
  record.host = "=bench-2";
  record.programmer = 3;
  record.programmerPath = "emulated:3";
  record.programmerSerial = "SN-0042";
  record.chipId = "6D 61 00 01";
  record.otpSize = 262144;
  record.image = "x,y.bin";
  record.sha256 = "ab12";
  record.result = "fail";
  record.exit = 8;
  record.status = "verify-mismatch";
  record.seconds = 2.5;
  record.stepSeconds = {0.1, 0.25, -1.0, 1.0};
  record.blocks = {"0x002300-0x0023FF", "0x004000-0x0040FF"};
  record.station = "line 2";
  record.operatorName = "Ana";
  record.code = -12;
  EXPECT_EQ(CsvHeader(),
            "time,host,programmer,part,chip_id,otp_size,image,sha256,result,exit,"
            "blank_check_s,write_s,verify_s,blocks,programmer_path,programmer_serial,status,"
            "seconds,run,station,operator,code,event\n");
  EXPECT_EQ(CsvRow(record),
            "2026-12-07T19:40:00.123Z,'=bench-2,SN-0042,7,6D 61 00 01,262144,\"x,y.bin\",ab12,"
            "fail,8,0.250,,1.000,0x002300-0x0023FF 0x004000-0x0040FF,emulated:3,SN-0042,"
            "verify-mismatch,2.500,20261207T194000Z-4711,line 2,Ana,-12,part\n");
  EXPECT_EQ(CsvRow(PartRecord()), ",,,0,,0,,,,0,,,,,,,,0.000,,,,0,part\n");
  // Only a verdict's row has a result, whatever the record holds.
  const struct {
    const char* event;
    const char* result;
    const char* column;
  } verdicts[] = {{"part", "unverified", "unverified"}, {"already", "already", "already"},
                  {"started", "fail", ""},              {"lost", "fail", ""},
                  {"end", "pass", ""}};
  for (const auto& verdict : verdicts) {
    SCOPED_TRACE(verdict.event);
    record.event = verdict.event;
    record.result = verdict.result;
    const std::string start = "2026-12-07T19:40:00.123Z,'=bench-2,SN-0042,7,6D 61 00 01,262144,"
                              "\"x,y.bin\",ab12," + std::string(verdict.column) + ",8,";
    EXPECT_EQ(CsvRow(record).substr(0, start.size()), start);
  }
}

std::string Rows(const std::vector<PartRecord>& records) {
  std::string rows;
  for (const PartRecord& record : records) rows += CsvRow(record);
  return rows;
}

PartRecord Started(const std::string& run, const std::string& key, int part,
                   const std::string& chipId) {
  PartRecord record = Record(key, part, "started");
  record.run = run;
  record.chipId = chipId;
  return record;
}

PartRecord Ended(const std::string& run, const std::string& key, int part,
                 const std::string& event = "part") {
  PartRecord record = Record(key, part, event);
  record.run = run;
  return record;
}

std::string Unfinished(const LogHistory& history) {
  std::string text;
  for (const UnfinishedPart& part : history.unfinished) {
    text += part.run + " " + part.programmerKey + " " + std::to_string(part.part) + " " +
            part.chipId + " " + part.time + ";";
  }
  return text;
}

// A new run numbers each programmer's parts after the highest number any of its rows holds,
// and hears of the parts that a crash left with a started row and no end, whatever version
// wrote the log and however its last line was cut.
TEST(LogHistory, NumbersPerProgrammerAndPartsLeftUnfinished) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "LogHistory");
  const std::string t = "2026-12-07T19:40:00.123Z";
  const struct {
    const char* name;
    std::string log;
    std::map<std::string, int> last;
    std::string unfinished;
  } cases[] = {
      {"no log", "", {}, ""},
      {"numbers across events",
       CsvHeader() + Rows({Record("SN1", 3), Started("r1", "SN1", 5, ""), Ended("r1", "SN1", 5),
                           Started("r1", "SN1", 6, ""), Ended("r1", "SN1", 6, "already"),
                           Record("SN1", 6, "lost"), Record("-SN9", 2), Record("-SN9", 0, "end")}),
       {{"SN1", 6}, {"-SN9", 2}},
       ""},
      {"started without an end",
       CsvHeader() + Rows({Started("r1", "SN1", 4, "6D 61 00 01"), Started("r1", "SN1", 5, ""),
                           Ended("r1", "SN1", 5), Started("r2", "SN2", 1, "6D 61 02 00"),
                           Ended("r3", "SN2", 1), Ended("r1", "SN2", 1),
                           Started("r2", "SN2", 2, ""), Ended("r2", "SN2", 2, "already")}),
       {{"SN1", 5}, {"SN2", 2}},
       "r1 SN1 4 6D 61 00 01 " + t + ";r2 SN2 1 6D 61 02 00 " + t + ";"},
      {"torn in its part", "programmer,part,run,event\nSN1,3,r1,part\nSN1,1", {{"SN1", 3}}, ""},
      {"torn after its part", "programmer,part,run,event\nSN1,3,r1,part\nSN1,12,r1,star",
       {{"SN1", 12}}, ""},
      {"torn inside a quoted field", "programmer,part,image,event\nSN1,4,\"a,b", {{"SN1", 4}}, ""},
      {"quoted line end", "programmer,part,image,event\nSN1,4,\"a\nb,c.bin\",part\nSN1,5,x,part\n",
       {{"SN1", 5}}, ""},
      {"before events", "time,host,programmer,part,image\nt,h,1,4,\"a,b\"\nt,h,2,9,x\nt,h,1,3,x\n",
       {{"1", 4}, {"2", 9}}, ""},
      {"numbered programmers with serials and paths",
       "programmer,part,programmer_path,programmer_serial,event\n1,4,/dev/hidraw0,SN7,part\n"
       "2,9,/dev/hidraw1,,part\n1,3,/dev/hidraw3,SN7,started\n",
       {{"SN7", 4}, {"/dev/hidraw1", 9}}, " SN7 3  ;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir / (std::string(c.name) + ".csv");
    if (!c.log.empty()) std::ofstream(path, std::ios::binary) << c.log;
    const LogHistory history = ReadLogHistory(path.string());
    EXPECT_EQ(history.lastPart, c.last);
    EXPECT_EQ(Unfinished(history), c.unfinished);
  }
}

PartRecord OfImage(const std::string& sha256, int part) {
  PartRecord record = Record("SN1", part);
  record.sha256 = sha256;
  return record;
}

// A new job's numbers start above the log's rows of its own image only: an old log of another
// job neither shifts them nor ends its lot. Rows of a log from before the image's hash was
// logged could be any job's, and count for every one.
TEST(LogHistory, TheFloorCountsTheRowsOfTheJobsImage) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "LogFloor");
  const std::string twoJobs =
      CsvHeader() + Rows({OfImage("aa11", 40), OfImage("bb22", 7), OfImage("aa11", 12)});
  const struct {
    const char* name;
    std::string log;
    const char* image;
    int floor;
  } cases[] = {
      {"no log", "", "aa11", 0},
      {"the job's own rows", twoJobs, "aa11", 40},
      {"another job's rows above", twoJobs, "bb22", 7},
      {"only other jobs' rows", twoJobs, "cc33", 0},
      {"a log without hashes", "programmer,part,event\nSN1,9,part\nSN2,4,part\n", "cc33", 9},
      {"hashes and rows without one",
       CsvHeader() + Rows({OfImage("", 15), OfImage("bb22", 3)}), "bb22", 15},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir / (std::string(c.name) + ".csv");
    if (!c.log.empty()) std::ofstream(path, std::ios::binary) << c.log;
    EXPECT_EQ(LogFloor(ReadLogHistory(path.string()), c.image), c.floor);
  }
}

// The file at the log's name after the run opened it: the run must notice before a row goes
// into a file that nobody will find, and say what became of the log.
struct MoveCase {
  const char* name;
  std::function<void(const std::filesystem::path& folder)> change;
  const char* words;
};

const char* const kGone = " is gone: it was deleted or its folder removed";
const char* const kNotThisOne = " was renamed or replaced by another file";

class LogMoved : public testing::TestWithParam<MoveCase> {};

TEST_P(LogMoved, RefusesEveryRowAndWritesNothing) {
  const auto root = CleanScratchFolder(QS71_TEST_TMPDIR, std::string("LogMoved_") + GetParam().name);
  const auto folder = root / "logs";
  std::filesystem::create_directory(folder);
  const std::string path = (folder / "parts.csv").string();
  ProductionLog log;
  std::string problem;
  ASSERT_TRUE(log.Open(path, problem)) << problem;
  ASSERT_TRUE(log.Append(Record("SN1", 1), problem)) << problem;
  ASSERT_TRUE(log.StillInPlace(problem)) << problem;
  std::ifstream old(path, std::ios::binary);  // the old file, wherever it goes
  GetParam().change(folder);
  const std::string refusal = "the log " + path + GetParam().words;
  EXPECT_FALSE(log.StillInPlace(problem));
  EXPECT_EQ(problem, refusal);
  problem.clear();
  EXPECT_FALSE(log.Append(Record("SN1", 2), problem));
  EXPECT_EQ(problem, refusal);
  std::stringstream kept;
  kept << old.rdbuf();
  EXPECT_EQ(kept.str(), CsvHeader() + CsvRow(Record("SN1", 1)));
  if (std::filesystem::exists(path)) {
    EXPECT_EQ(ReadFileText(path), "another file\n");
  }
}

INSTANTIATE_TEST_SUITE_P(
    NameCheck, LogMoved,
    testing::Values(
        MoveCase{"Deleted", [](const auto& folder) { std::filesystem::remove(folder / "parts.csv"); },
                 kGone},
        MoveCase{"FolderRemoved", [](const auto& folder) { std::filesystem::remove_all(folder); },
                 kGone},
        MoveCase{"Renamed",
                 [](const auto& folder) {
                   std::filesystem::rename(folder / "parts.csv", folder / "parts-old.csv");
                 },
                 kNotThisOne},
        MoveCase{"FolderRenamed",
                 [](const auto& folder) {
                   std::filesystem::rename(folder, folder.parent_path() / "logs-old");
                 },
                 kNotThisOne},
        MoveCase{"Replaced",
                 [](const auto& folder) {
                   std::ofstream(folder / "new.csv", std::ios::binary) << "another file\n";
                   std::filesystem::rename(folder / "new.csv", folder / "parts.csv");
                 },
                 kNotThisOne},
        MoveCase{"DeletedAndMadeAgain",
                 [](const auto& folder) {
                   std::filesystem::remove(folder / "parts.csv");
                   std::ofstream(folder / "parts.csv", std::ios::binary) << "another file\n";
                 },
                 kNotThisOne}),
    [](const testing::TestParamInfo<MoveCase>& info) { return info.param.name; });

// A row never runs on from a line that a crash left without its end, and a new or empty log
// starts with the header.
TEST(LogWrite, StartsARowOnALineOfItsOwn) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "LogStart");
  const std::string row = CsvRow(Record("SN1", 1));
  const struct {
    const char* name;
    const char* before;  // nullptr: no file
    std::string after;
  } cases[] = {{"new", nullptr, CsvHeader() + row},
               {"empty", "", CsvHeader() + row},
               {"torn", "a,b", "a,b\n" + row},
               {"whole", "a,b\n", "a,b\n" + row}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = (dir / (std::string(c.name) + ".csv")).string();
    if (c.before != nullptr) std::ofstream(path, std::ios::binary) << c.before;
    ProductionLog log;
    std::string problem;
    ASSERT_TRUE(log.Open(path, problem)) << problem;
    EXPECT_TRUE(log.Append(Record("SN1", 1), problem)) << problem;
    EXPECT_EQ(ReadFileText(path), c.after);
  }
}

// A file-size limit on this process for as long as the object lives, with SIGXFSZ ignored so
// that a write over it fails with EFBIG, as a full disk fails with ENOSPC.
class SizeLimit {
 public:
  explicit SizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous);
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit = previous;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~SizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous);
    signal(SIGXFSZ, SIG_DFL);
  }
  SizeLimit(const SizeLimit&) = delete;
  SizeLimit& operator=(const SizeLimit&) = delete;

 private:
  rlimit previous{};
};

// A row the system refuses, at once or after some of its bytes, names the system's reason and
// leaves the log as it was.
TEST(LogWrite, FailsWithTheSystemsReasonAndLeavesNoTornLine) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "LogWrite");
  for (const rlim_t room : {rlim_t{0}, rlim_t{10}}) {
    SCOPED_TRACE(room);
    const std::string path = (dir / ("room" + std::to_string(room) + ".csv")).string();
    ProductionLog log;
    std::string problem;
    ASSERT_TRUE(log.Open(path, problem)) << problem;
    ASSERT_TRUE(log.Append(Record("SN1", 1), problem)) << problem;
    const auto size = static_cast<rlim_t>(std::filesystem::file_size(path));
    {
      SizeLimit limit(size + room);
      EXPECT_FALSE(log.Append(Record("SN1", 2), problem));
    }
    EXPECT_EQ(problem, "cannot write the log " + path + ": File too large");
    EXPECT_EQ(ReadFileText(path), CsvHeader() + CsvRow(Record("SN1", 1)));
  }
}

// In the child: rows far over its file-size limit, each written part way and cut back. Exits
// with 0 when every one of them was refused for the limit.
[[noreturn]] void AppendOverALimit(const std::string& path, int rows) {
  ProductionLog log;
  std::string problem;
  if (!log.Open(path, problem)) _exit(2);
  SizeLimit limit(static_cast<rlim_t>(std::filesystem::file_size(path)) + (rlim_t{1} << 20));
  PartRecord big = Record("child", 1);
  big.image.assign(size_t{2} << 20, 'c');
  int unexpected = 0;
  for (int row = 0; row < rows; ++row) {
    if (log.Append(big, problem) || problem.find(": File too large") == std::string::npos) {
      ++unexpected;
    }
  }
  _exit(unexpected == 0 ? 0 : 1);
}

// Two runs on one log, one of them over a file-size limit. Without a lock around the size,
// the write and the cut-back, the failing run cut the log back to the size it had read before
// its write, taking with it every row that the other run had appended meanwhile. The child
// spends nearly all its time inside such a window (a megabyte written, then cut back), and the
// parent appends all the while, so the fault loses rows on every run, not by chance of timing.
TEST(LogWrite, AFailingRunNeverTakesAnotherRunsRows) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "LogWriteTwoRuns");
  const std::string path = (dir / "parts.csv").string();
  ProductionLog log;
  std::string problem;
  ASSERT_TRUE(log.Open(path, problem)) << problem;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) AppendOverALimit(path, 100);
  std::string expected = CsvHeader();
  int status = 0;
  pid_t ended = 0;
  for (int part = 1; part <= 100 || (ended = waitpid(child, &status, WNOHANG)) == 0; ++part) {
    ASSERT_TRUE(log.Append(Record("parent", part), problem)) << problem;
    expected += CsvRow(Record("parent", part));
  }
  ASSERT_EQ(ended, child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  EXPECT_EQ(ReadFileText(path), expected);
}

}  // namespace
}  // namespace qs71prog
