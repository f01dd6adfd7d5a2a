// What a line relies on its trace for, each row a way the record lost, doubled or miscounted
// parts, run on the station's SQLite file and on a line's PostgreSQL server alike (rows of a
// line's server only where SQLite has no such thing): conflicts that are refused with both
// rows named, numbers that no two stations share, a trace that notices it was restored or
// deleted, a spool that a refused row does not block, and a lot of good parts.

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "test_scratch.h"
#include "trace/forwarding_store.h"
#include "trace/run_trace.h"
#include "trace/trace_commands.h"
#include "trace/trace_schema.h"
#include "trace/trace_test_backends.h"

namespace qs71prog::testing_trace {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// What a row gets: the backend, a scratch folder for its spools, and a store opened on an
// empty trace with the job and the runs it names.
struct Row {
  TraceBackend& backend;
  std::filesystem::path folder;
  std::string problem;

  std::unique_ptr<SqlTraceStore> Opened(int lot, const std::vector<std::string>& runs) {
    auto store = backend.Store();
    EXPECT_TRUE(store->Open(problem)) << problem;
    for (const std::string& run : runs) {
      EXPECT_TRUE(store->BeginRun(MakeJob(lot), MakeRun(run), problem)) << problem;
    }
    return store;
  }
  NumberGrant Take(TraceStore& store, const std::string& run, int want, const std::string& id) {
    NumberGrant grant;
    grant.id = id;
    EXPECT_TRUE(store.TakeNumbers("job-1", run, want, 0, grant, problem)) << problem;
    return grant;
  }
  // A part's started event and its verdict.
  void Part(TraceStore& store, const std::string& run, int seq, int number,
            const std::string& result) {
    EXPECT_TRUE(store.Record(MakeEvent(run, seq, "started", number), problem)) << problem;
    EXPECT_TRUE(store.Record(MakeEvent(run, seq + 1, "part", number, result), problem)) << problem;
  }
  TracePlace Settings() const {
    return {backend.Target(), (folder / "spool.db").string()};
  }
};

struct Finding {
  const char* name;
  bool lineOnly;
  std::function<void(Row&)> check;
};

const Finding kFindings[] = {
    {"an event under an ID taken is refused with both named; the same event again is nothing",
     false,
     [](Row& row) {
       auto store = row.Opened(0, {"r1"});
       EXPECT_TRUE(store->Record(MakeEvent("r1", 1, "started", 1), row.problem)) << row.problem;
       EXPECT_TRUE(store->Record(MakeEvent("r1", 1, "started", 1), row.problem)) << row.problem;
       // A second station under the same run ID, as two containers' process 2 once made it.
       EXPECT_FALSE(store->Record(MakeEvent("r1", 1, "started", 2), row.problem));
       EXPECT_TRUE(Has(row.problem, "already holds the event r1/1 as \"started part 1")) << row.problem;
       EXPECT_TRUE(Has(row.problem, "and this one is \"started part 2")) << row.problem;
       EXPECT_EQ(row.backend.Sql("SELECT count(*) FROM events"), "1\n");
       EXPECT_EQ(row.backend.Sql("SELECT number FROM parts"), "1\n");
     }},
    {"a number another run took is refused, and a verdict never writes over its part", false,
     [](Row& row) {
       auto store = row.Opened(0, {"r1", "r2"});
       EXPECT_TRUE(store->Record(MakeEvent("r1", 1, "started", 5), row.problem)) << row.problem;
       EXPECT_FALSE(store->Record(MakeEvent("r2", 1, "started", 5), row.problem));
       EXPECT_TRUE(Has(row.problem, "already holds part 5 of the job job-1 as \"part 5, "
                                    "programmer QS71EMU-01, run r1")) << row.problem;
       EXPECT_TRUE(Has(row.problem, "run r2")) << row.problem;
       EXPECT_FALSE(store->Record(MakeEvent("r2", 2, "part", 5, "fail"), row.problem));
       EXPECT_EQ(row.backend.Sql("SELECT number, run, result FROM parts"), "5|r1|\n");
     }},
    {"a give-back repeated hands its numbers to nobody", false,
     [](Row& row) {
       auto store = row.Opened(0, {"r1", "r2", "r3"});
       EXPECT_EQ(row.Take(*store, "r1", 2, "g1").numbers, (std::vector<int>{1, 2}));
       EXPECT_TRUE(store->GiveBack("job-1", "g1", {2}, row.problem)) << row.problem;
       EXPECT_EQ(row.Take(*store, "r2", 1, "g2").numbers, std::vector<int>{2});
       EXPECT_TRUE(store->GiveBack("job-1", "g1", {2}, row.problem)) << row.problem;
       EXPECT_EQ(row.Take(*store, "r3", 1, "g3").numbers, std::vector<int>{3});
       // A grant asked for again, after its answer was lost, gives its numbers again.
       EXPECT_EQ(row.Take(*store, "r3", 1, "g3").numbers, std::vector<int>{3});
       EXPECT_EQ(row.backend.Sql("SELECT grant_id FROM granted_numbers ORDER BY number"),
                 "g1\ng2\ng3\n");
     }},
    {"a next number behind the parts (a backup restored) is repaired, and said so", false,
     [](Row& row) {
       auto store = row.Opened(0, {"r1"});
       row.Take(*store, "r1", 3, "g1");
       for (int number = 1; number <= 3; ++number) row.Part(*store, "r1", 2 * number, number, "pass");
       row.backend.Sql("UPDATE jobs SET next_number = 2; DELETE FROM granted_numbers; "
                       "INSERT INTO spare_numbers (job, number) VALUES ('job-1', 2)");
       auto again = row.backend.Store();
       ASSERT_TRUE(again->Open(row.problem)) << row.problem;
       const std::vector<std::string> notes = again->Notes();
       ASSERT_EQ(notes.size(), 2u);
       EXPECT_TRUE(Has(notes[0], "was behind its parts (a backup restored?): job doorbell "
                                 "(job-1) had 2 as its next number while its numbers go up to "
                                 "3; it numbers on from 4")) << notes[0];
       EXPECT_TRUE(Has(notes[1], "held 1 given-back number of job doorbell (job-1) that parts "
                                 "had taken; it is no longer offered")) << notes[1];
       EXPECT_EQ(row.Take(*again, "r1", 1, "g2").numbers, std::vector<int>{4});
     }},
    {"the numbers a crashed run held go back at its host's next run", false,
     [](Row& row) {
       LotState lot;
       int number = 0;
       {
         RunTrace crashed;
         ASSERT_TRUE(crashed.Begin(row.Settings(), MakeJob(0), MakeRun("r1"), row.problem))
             << row.problem;
         ASSERT_EQ(crashed.TakeNumber(0, number, lot, row.problem), NumberTaken::kTaken);
         ASSERT_TRUE(crashed.Record(MakeEvent("r1", 1, "started", number).row, row.problem));
       }  // never ended: kill -9
       RunTrace next;
       ASSERT_TRUE(next.Begin(row.Settings(), MakeJob(0), MakeRun("r2"), row.problem))
           << row.problem;
       ASSERT_EQ(next.Notes().size(), 1u);
       EXPECT_EQ(next.Notes()[0], "the " + std::to_string(kLeastReserve - 1) + " part numbers "
                                  "that run r1 held in reserve went back to the trace: the run "
                                  "stopped without giving them back");
       ASSERT_EQ(next.TakeNumber(0, number, lot, row.problem), NumberTaken::kTaken);
       EXPECT_EQ(number, 2);
       std::vector<TracePart> unfinished;
       ASSERT_TRUE(next.Unfinished(unfinished, row.problem)) << row.problem;
       ASSERT_EQ(unfinished.size(), 1u);
       EXPECT_EQ(unfinished[0].number, 1);
     }},
    {"a trace deleted or replaced under a run is noticed before the next part", false,
     [](Row& row) {
       RunTrace run;
       ASSERT_TRUE(run.Begin(row.Settings(), MakeJob(0), MakeRun("r1"), row.problem));
       EXPECT_TRUE(run.StillInPlace(row.problem)) << row.problem;
       const std::string file = row.backend.IsLine() ? (row.folder / "spool.db").string()
                                                     : row.backend.Target();
       std::filesystem::copy_file(file, file + ".copy");
       std::filesystem::rename(file + ".copy", file);
       EXPECT_FALSE(run.StillInPlace(row.problem));
       EXPECT_EQ(row.problem, "the trace " + file + " was renamed or replaced by another file");
       for (const char* end : {"", "-wal", "-shm"}) std::filesystem::remove(file + end);
       EXPECT_FALSE(run.StillInPlace(row.problem));
       EXPECT_EQ(row.problem, "the trace " + file + " is gone: it was deleted or its folder removed");
     }},
    {"a blank check's reject is a part of its own, with its verdict and step", false,
     [](Row& row) {
       auto store = row.Opened(0, {"r1"});
       TraceEvent reject = MakeEvent("r1", 1, "part", 1, "fail");
       reject.row.status = "not-blank — reject the part";
       reject.row.stepSeconds = {-1.0, 0.2, -1.0, -1.0};
       EXPECT_TRUE(store->Record(reject, row.problem)) << row.problem;
       row.Part(*store, "r1", 2, 2, "pass");
       EXPECT_EQ(row.backend.Sql("SELECT number, result, step, status FROM parts ORDER BY number"),
                 "1|fail|blank-check|not-blank — reject the part\n2|pass|verify|ok\n");
     }},
    {"the lot counts good parts, scrap apart, and grants never let it be passed", false,
     [](Row& row) {
       auto store = row.Opened(3, {"r1"});
       EXPECT_EQ(row.Take(*store, "r1", 5, "g1").numbers, (std::vector<int>{1, 2, 3}));
       row.Part(*store, "r1", 1, 1, "pass");
       row.Part(*store, "r1", 3, 2, "fail");
       row.Part(*store, "r1", 5, 3, "unverified");
       LotState lot;
       ASSERT_TRUE(store->Lot("job-1", lot, row.problem)) << row.problem;
       EXPECT_EQ(LotLine(lot), "lot 3: 2 good, 1 scrap, 1 to go");
       EXPECT_FALSE(lot.Complete());
       EXPECT_EQ(row.Take(*store, "r1", 5, "g2").numbers, std::vector<int>{4});
       EXPECT_TRUE(store->Record(MakeEvent("r1", 7, "started", 4), row.problem)) << row.problem;
       EXPECT_TRUE(row.Take(*store, "r1", 5, "g3").numbers.empty());
       EXPECT_TRUE(store->Record(MakeEvent("r1", 8, "part", 4, "pass"), row.problem));
       ASSERT_TRUE(store->Lot("job-1", lot, row.problem)) << row.problem;
       EXPECT_TRUE(lot.Complete());
       EXPECT_EQ(LotEndText(lot), "the lot of 3 parts is complete: 3 good, 1 scrap; the run ends");
     }},
    {"an event the line refuses is set aside with its reason and holds up nothing", true,
     [](Row& row) {
       {
         auto station = row.backend.Station(row.folder / "spool.db");
         ASSERT_TRUE(station->Open(row.problem)) << row.problem;
         ASSERT_TRUE(station->BeginRun(MakeJob(0), MakeRun("r1"), row.problem)) << row.problem;
         TraceEvent latin1 = MakeEvent("r1", 1, "lost", 0);
         latin1.row.operatorName = "Jos\xe9";
         EXPECT_TRUE(station->Record(latin1, row.problem)) << row.problem;
         EXPECT_TRUE(station->Record(MakeEvent("r1", 2, "back", 0), row.problem)) << row.problem;
         EXPECT_EQ(station->Refused(), 1);
         EXPECT_EQ(station->Waiting(), 0);
         EXPECT_EQ(station->Backlog(), "1 event the line refused");
       }
       // The next run of the station is not held up by it either.
       auto next = row.backend.Station(row.folder / "spool.db");
       ASSERT_TRUE(next->Open(row.problem)) << row.problem;
       ASSERT_TRUE(next->BeginRun(MakeJob(0), MakeRun("r2"), row.problem)) << row.problem;
       EXPECT_EQ(row.backend.Sql("SELECT id FROM events ORDER BY id"), "r1/2\n");
       EXPECT_EQ(next->Refused(), 1);
       EXPECT_EQ(RefusedInSpool((row.folder / "spool.db").string()), 1);
     }},
    {"a station whose reserve ran out waits for the line's server and goes on when it answers",
     true,
     [](Row& row) {
       RunTrace run;
       ASSERT_TRUE(run.Begin(row.Settings(), MakeJob(0), MakeRun("r1"), row.problem));
       LotState lot;
       int number = 0;
       ASSERT_EQ(run.TakeNumber(0, number, lot, row.problem), NumberTaken::kTaken) << row.problem;
       row.backend.Stop();
       for (int part = 2; part <= kLeastReserve; ++part) {
         ASSERT_EQ(run.TakeNumber(0, number, lot, row.problem), NumberTaken::kTaken);
         EXPECT_EQ(number, part);
         ASSERT_TRUE(run.Record(MakeEvent("r1", part, "started", part).row, row.problem));
       }
       EXPECT_EQ(run.TakeNumber(0, number, lot, row.problem), NumberTaken::kWaiting);
       EXPECT_EQ(run.WaitingForNumbers(), "waiting for the line's trace: 3 events to send");
       ASSERT_TRUE(row.backend.Restart(row.problem)) << row.problem;
       std::this_thread::sleep_for(ForwardingStore::kRetry);
       ASSERT_EQ(run.TakeNumber(0, number, lot, row.problem), NumberTaken::kTaken) << row.problem;
       EXPECT_EQ(number, kLeastReserve + 1);
       ASSERT_TRUE(run.End(0, "count reached", row.problem)) << row.problem;
       EXPECT_EQ(row.backend.Sql("SELECT count(*) FROM parts"), "3\n");
     }},
    {"the reserve covers the policy's reserve-minutes at the run's rate, within the lot", false,
     [](Row& row) {
       // The first number takes the least reserve; the second, one part in the least quarter
       // of a minute the rate is taken over (4 a minute), tops the reserve up to the policy's
       // minutes of parts beside the number the first part took; a lot gives each grant half
       // of its room at most.
       const struct {
         int minutes;
         int lot;
         const char* granted;
       } cases[] = {{1, 0, "4\n"}, {10, 0, "41\n"}, {30, 0, "121\n"}, {30, 12, "8\n"}};
       for (const auto& c : cases) {
         SCOPED_TRACE(c.minutes);
         row.backend.Reset();
         Options options;
         options.trace = row.backend.Target();
         options.policy.spool = (EmptyFolder(row.folder / "reserve") / "spool.db").string();
         options.policy.reserveMinutes = c.minutes;
         RunTrace run;
         ASSERT_TRUE(run.Begin(TracePlaceOf(options), MakeJob(c.lot), MakeRun("r1"), row.problem))
             << row.problem;
         LotState lot;
         int number = 0;
         for (int part = 1; part <= 2; ++part) {
           ASSERT_EQ(run.TakeNumber(0, number, lot, row.problem), NumberTaken::kTaken);
           EXPECT_EQ(number, part);
         }
         EXPECT_EQ(row.backend.Sql("SELECT count(*) FROM granted_numbers"), c.granted);
         // No part used one: every number goes back at the run's end.
         run.GiveBack(1);
         run.GiveBack(2);
         ASSERT_TRUE(run.End(0, "count reached", row.problem)) << row.problem;
         EXPECT_EQ(row.backend.Sql("SELECT count(*) FROM spare_numbers"), c.granted);
       }
     }},
    {"a report of a server that does not answer is refused, and a report writes nothing", true,
     [](Row& row) {
       std::unique_ptr<TraceStore> reader;
       EXPECT_FALSE(OpenTraceToRead({row.backend.Target()}, reader, row.problem));
       EXPECT_TRUE(Has(row.problem, "is not a qs71 trace")) << row.problem;
       EXPECT_EQ(row.backend.Sql("SELECT count(*) FROM information_schema.tables WHERE "
                                 "table_schema = 'public'"),
                 "0\n");
       row.backend.Stop();
       EXPECT_FALSE(OpenTraceToRead({row.backend.Target()}, reader, row.problem));
       EXPECT_TRUE(Has(row.problem, "cannot open the trace postgresql://qs71@127.0.0.1:"))
           << row.problem;
       ASSERT_TRUE(row.backend.Restart(row.problem)) << row.problem;
     }},
};

class TraceFindings : public testing::TestWithParam<std::string> {};

TEST_P(TraceFindings, HoldOnThisDatabase) {
  const std::filesystem::path folder = CleanScratchFolder(QS71_TEST_TMPDIR, "findings-" + GetParam());
  auto backend = MakeBackend(GetParam(), folder);
  std::string problem;
  if (!backend->Start(problem)) GTEST_SKIP() << problem;
  for (const Finding& finding : kFindings) {
    if (finding.lineOnly && !backend->IsLine()) continue;
    SCOPED_TRACE(finding.name);
    backend->Reset();
    Row row{*backend, EmptyFolder(folder / "row"), ""};
    finding.check(row);
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, TraceFindings, testing::ValuesIn(BackendNames()),
                         [](const auto& info) { return info.param; });

// A trace that the qs71prog before grants and random run IDs made, on a station with a crash
// in it (tests/testdata: a dump of its SQLite file): brought up to date, it keeps its parts,
// numbers on where it was, and still knows which process each run was.
class TraceOfVersion1 : public testing::TestWithParam<std::string> {};

TEST_P(TraceOfVersion1, IsBroughtUpToDate) {
  const std::filesystem::path folder = CleanScratchFolder(QS71_TEST_TMPDIR, "v1-" + GetParam());
  auto backend = MakeBackend(GetParam(), folder);
  std::string problem;
  if (!backend->Start(problem)) GTEST_SKIP() << problem;
  backend->Sql(DumpStatements(QS71_TRACE_TESTDATA "/trace_v1.sql"));
  auto store = backend->Store();
  ASSERT_TRUE(store->Open(problem)) << problem;
  EXPECT_TRUE(store->Notes().empty());
  EXPECT_EQ(backend->Sql("SELECT version FROM qs71_schema"), std::to_string(kTraceSchema) + "\n");
  EXPECT_EQ(backend->Sql("SELECT number, result, step FROM parts WHERE job NOT LIKE 'image:%' "
                         "ORDER BY number"),
            "1|pass|verify\n2|fail|verify\n3|pass|verify\n5||\n");
  const std::string job = "126493e706c454fdc859fd34b0ffe6992324bcc1b10243e46957e238c5881418";
  LotState lot;
  ASSERT_TRUE(store->Lot(job, lot, problem)) << problem;
  EXPECT_EQ(LotLine(lot), "lot 6: 2 good, 1 scrap, 4 to go");
  EXPECT_EQ(lot.Room(), 3);  // part 5, cut short by kill -9, may hold the image
  std::vector<TracePart> parts;
  std::vector<long> pids;
  ASSERT_TRUE(store->Unfinished("vm", "", parts, pids, problem)) << problem;
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].number, 5);
  EXPECT_EQ(pids, std::vector<long>{12143});
  ASSERT_TRUE(store->BeginRun({job, "doorbell", "WO-9", "", "door.job", std::string(
                                   "60ec78f5214e4aa93a7111022e414f904e3da48eb6bc15d552a6c93a1a9a5888"), 6},
                              MakeRun("r-new", job, "vm"), problem))
      << problem;
  NumberGrant grant;
  grant.id = "g1";
  ASSERT_TRUE(store->TakeNumbers(job, "r-new", 9, 0, grant, problem)) << problem;
  EXPECT_EQ(grant.numbers, (std::vector<int>{6, 7, 8}));
  TraceContents contents;
  ASSERT_TRUE(store->Load({}, contents, problem)) << problem;
  EXPECT_EQ(contents.runs.size(), 4u);
  for (const TraceRun& run : contents.runs) {
    if (run.id == "20261209T173758Z-10185") {
      EXPECT_EQ(run.pid, 10185);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, TraceOfVersion1, testing::ValuesIn(BackendNames()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace qs71prog::testing_trace
