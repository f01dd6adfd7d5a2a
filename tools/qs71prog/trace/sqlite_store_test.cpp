// The station's trace in SQLite through the library itself: numbers unique per job and never
// past the lot, a second delivery of an event that changes nothing, what export and report
// read back, and the traces that are refused with their reasons.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "test_scratch.h"
#include "trace/random_id.h"
#include "trace/sqlite_store.h"

namespace qs71prog {
namespace {

class SqliteTrace : public testing::Test {
 protected:
  void SetUp() override {
    dir = CleanScratchFolder(QS71_TEST_TMPDIR,
                             testing::UnitTest::GetInstance()->current_test_info()->name());
    path = (dir / "trace.db").string();
  }

  // A trace with job "job-1" (lot lot) and run "run-1" in it.
  std::unique_ptr<SqliteStore> Opened(int lot = 0) {
    auto store = std::make_unique<SqliteStore>(path);
    std::string problem;
    EXPECT_TRUE(store->Open(problem)) << problem;
    EXPECT_TRUE(store->BeginRun({"job-1", "toy", "WO-7", "", "toy.bin", "ab", lot},
                                {"run-1", "job-1", "bench", "ann", "host", "0.1",
                                 "2026-12-09T10:00:00Z", "", 0, "", 0},
                                problem))
        << problem;
    return store;
  }

  static TraceEvent Event(int seq, const char* kind, int part, const char* result = "") {
    TraceEvent event;
    event.id = "run-1/" + std::to_string(seq);
    event.job = "job-1";
    event.seq = seq;
    event.row.time = "2026-12-09T10:00:0" + std::to_string(seq) + "Z";
    event.row.run = "run-1";
    event.row.programmerKey = "QS71EMU-01";
    event.row.part = part;
    event.row.event = kind;
    event.row.result = result;
    event.row.blocks = {"0x000000-0x0000FF", "0x000200-0x0002FF"};
    event.row.stepSeconds = {-1.0, 0.25, 1.5, -1.0};
    return event;
  }

  std::filesystem::path dir;
  std::string path;
};

TEST_F(SqliteTrace, NumbersAreUniqueAcrossStoresAndStopAtTheLot) {
  auto first = Opened(20);
  SqliteStore second(path);
  std::string problem;
  ASSERT_TRUE(second.Open(problem)) << problem;
  std::vector<int> numbers[2];
  // Each number taken is judged at once: the lot of 20 good parts is 20 numbers here.
  const auto take = [&](TraceStore& store, std::vector<int>& mine) {
    NumberGrant grant;
    std::string why;
    for (;;) {
      grant.id = RandomUuid();
      if (!store.TakeNumbers("job-1", "run-1", 1, 0, grant, why) || grant.numbers.empty()) break;
      mine.push_back(grant.numbers.front());
      TraceEvent verdict = Event(0, "part", grant.numbers.front(), "pass");
      verdict.id = "run-1/" + RandomUuid();
      if (!store.Record(verdict, why)) break;
    }
  };
  std::thread a(take, std::ref(*first), std::ref(numbers[0]));
  std::thread b(take, std::ref(second), std::ref(numbers[1]));
  a.join();
  b.join();
  std::vector<int> all = numbers[0];
  all.insert(all.end(), numbers[1].begin(), numbers[1].end());
  std::sort(all.begin(), all.end());
  std::vector<int> expected(20);
  for (int i = 0; i < 20; ++i) expected[i] = i + 1;
  EXPECT_EQ(all, expected);

  LotState lot;
  ASSERT_TRUE(first->Lot("job-1", lot, problem)) << problem;
  EXPECT_TRUE(lot.Complete());
}

TEST_F(SqliteTrace, NumbersGoAboveTheLogsFloor) {
  auto store = Opened();
  NumberGrant grant;
  std::string problem;
  grant.id = "g1";
  ASSERT_TRUE(store->TakeNumbers("job-1", "run-1", 2, 41, grant, problem)) << problem;
  EXPECT_EQ(grant.numbers, (std::vector<int>{42, 43}));
}

TEST_F(SqliteTrace, AnEventDeliveredTwiceIsOneRowAndPartsFollowTheirEvents) {
  auto store = Opened();
  std::string problem;
  for (const TraceEvent& event : {Event(1, "started", 1), Event(1, "started", 1),
                                  Event(2, "part", 1, "fail"), Event(3, "started", 2)}) {
    ASSERT_TRUE(store->Record(event, problem)) << problem;
  }
  TraceContents contents;
  ASSERT_TRUE(store->Load({}, contents, problem)) << problem;
  ASSERT_EQ(contents.events.size(), 3u);
  EXPECT_EQ(contents.events[1].row.blocks, Event(2, "part", 1).row.blocks);
  EXPECT_EQ(contents.events[1].row.stepSeconds, Event(2, "part", 1).row.stepSeconds);
  ASSERT_EQ(contents.parts.size(), 2u);
  EXPECT_EQ(contents.parts[0].result, "fail");
  EXPECT_EQ(contents.parts[1].result, "");

  std::vector<TracePart> unfinished;
  std::vector<long> pids;
  ASSERT_TRUE(store->Unfinished("host", "run-2", unfinished, pids, problem)) << problem;
  ASSERT_EQ(unfinished.size(), 1u);
  EXPECT_EQ(unfinished[0].number, 2);
  ASSERT_TRUE(store->Unfinished("host", "run-1", unfinished, pids, problem)) << problem;
  EXPECT_TRUE(unfinished.empty());
}

TEST_F(SqliteTrace, FiltersSelectRuns) {
  auto store = Opened();
  std::string problem;
  ASSERT_TRUE(store->BeginRun({"job-2", "", "", "", "", "", 0},
                              {"run-2", "job-2", "b", "", "host", "0.1", "2026-12-10T08:00:00Z",
                               "", 0, "", 0},
                              problem));
  const struct {
    TraceFilter filter;
    size_t runs;
  } cases[] = {{{}, 2}, {{"run-2", "", ""}, 1}, {{"", "job-1", ""}, 1},
               {{"", "", "2026-12-10"}, 1}, {{"nothing", "", ""}, 0}};
  for (const auto& test : cases) {
    TraceContents contents;
    ASSERT_TRUE(store->Load(test.filter, contents, problem)) << problem;
    EXPECT_EQ(contents.runs.size(), test.runs) << test.filter.run << test.filter.job << test.filter.since;
  }
}

// Each refusal names the trace and says what is wrong with it.
TEST_F(SqliteTrace, TracesThatCannotServeAreRefused) {
  const auto write = [&](const std::string& text) { std::ofstream(path, std::ios::binary) << text; };
  const auto sql = [&](const char* statement) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, statement, nullptr, nullptr, nullptr);
    sqlite3_close(db);
  };
  const struct {
    const char* name;
    std::function<void()> make;
    const char* words;
  } cases[] = {
      {"not a database", [&] { write(std::string(4096, 'x')); }, "file is not a database"},
      {"newer schema", [&] { Opened(); sql("UPDATE qs71_schema SET version = 9"); },
       "has schema version 9; this qs71prog reads up to version 2: use a newer qs71prog"},
      {"another database", [&] { sql("CREATE TABLE songs (name TEXT)"); },
       "is a database of something else"},
  };
  for (const auto& test : cases) {
    std::filesystem::remove(path);
    test.make();
    SqliteStore store(path);
    std::string problem;
    EXPECT_FALSE(store.Open(problem)) << test.name;
    EXPECT_NE(problem.find(path), std::string::npos) << problem;
    EXPECT_NE(problem.find(test.words), std::string::npos) << test.name << ": " << problem;
  }
}

}  // namespace
}  // namespace qs71prog
