// A big SQLite trace for the report's benchmark, in seconds rather than the hours that one
// committed event at a time would take: the schema made by SqliteStore::Open, as a station's
// first run makes it, then every job, run, part and event inserted in one transaction. The
// trace is what stations would have recorded: 4 stations of 8 programmers each working
// through two jobs in runs of about 330 parts, 7 operators taking turns, one part in 50
// failing its verify with its blocks, a few parts aborted, and a programmer lost and back
// about once per run. Fixed seed: the same trace on every machine.
//
//   qs71_bench_make_trace DB PARTS
//
// Prints "key value" lines: parts, runs, events.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "production/part_record.h"
#include "trace/random_id.h"
#include "trace/sqlite_store.h"
#include "trace/trace_schema.h"

namespace {

using qs71prog::PartRecord;

constexpr int kStations = 4;
constexpr int kProgrammers = 8;
constexpr int kRunParts = 330;
constexpr double kPartSeconds = 12.5;  // a 256 KiB part's blank check, write and verify
const char* const kOperators[] = {"ann", "bob", "cem", "dora", "eli", "fay", "gus"};
const char* const kJobs[] = {"3f9a1c0d5e7b2a4c6d8e0f1a2b3c4d5e6f708192a3b4c5d6e7f8091a2b3c4d5e",
                             "image:7c2e4a6b8d0f1e3c5a7b9d1f3e5c7a9b1d3f5e7c9a1b3d5f7e9c1a3b5d7f9e1c"};

[[noreturn]] void Fail(sqlite3* db, const char* what) {
  std::fprintf(stderr, "qs71_bench_make_trace: %s: %s\n", what,
               db == nullptr ? "" : sqlite3_errmsg(db));
  std::exit(1);
}

struct Statement {
  Statement(sqlite3* db, const std::string& sql) : db(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) Fail(db, "prepare");
  }
  ~Statement() { sqlite3_finalize(stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Text(const std::string& text) {
    sqlite3_bind_text(stmt, ++column, text.c_str(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Integer(long long value) {
    sqlite3_bind_int64(stmt, ++column, value);
    return *this;
  }
  Statement& Real(double value) {
    if (value < 0.0) {
      sqlite3_bind_null(stmt, ++column);
    } else {
      sqlite3_bind_double(stmt, ++column, value);
    }
    return *this;
  }
  void Run() {
    if (sqlite3_step(stmt) != SQLITE_DONE) Fail(db, "insert");
    sqlite3_reset(stmt);
    column = 0;
  }

  sqlite3* db;
  sqlite3_stmt* stmt = nullptr;
  int column = 0;
};

std::string InsertSql(const std::string& table, const std::vector<std::string>& columns) {
  std::string names, places;
  for (const std::string& column : columns) {
    names += (names.empty() ? "" : ", ") + column;
    places += places.empty() ? "?" : ", ?";
  }
  return "INSERT INTO " + table + " (" + names + ") VALUES (" + places + ")";
}

// Seconds since the first run began, 2026-12-07 06:00 UTC.
std::chrono::system_clock::time_point Moment(double seconds) {
  const auto start = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7} + std::chrono::hours(6);
  return start + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                     std::chrono::duration<double>(seconds));
}

std::string Time(double seconds) { return qs71prog::UtcTimestamp(Moment(seconds)); }

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : " ") + item;
  return text;
}

// The whole trace, inserted through prepared statements.
class TraceMaker {
 public:
  explicit TraceMaker(sqlite3* db)
      : job(db, InsertSql("jobs", {"hash", "name", "work_order", "lot", "signer", "image",
                                   "image_sha256", "next_number"})),
        run(db, InsertSql("runs", {"id", "job", "station", "operator_name", "host", "version",
                                   "started_at", "ended_at", "exit", "how"})),
        part(db, InsertSql("parts", {"job", "number", "run", "programmer", "chip_id", "result",
                                     "status", "exit", "code", "seconds", "blank_check_s",
                                     "write_s", "verify_s", "blocks", "started_at",
                                     "ended_at"})),
        event(db, EventSql()) {}

  void Make(int parts);
  int runs = 0;
  long long events = 0;

 private:
  static std::string EventSql() {
    std::vector<std::string> columns = {"id", "job", "seq"};
    for (const std::string& column : qs71prog::TraceEventColumns()) columns.push_back(column);
    return InsertSql("events", columns);
  }
  unsigned Random() {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  }
  void Run(int station, int count, double& clock);
  PartRecord Row(const std::string& kind, double at);
  void Event(const PartRecord& row);
  void Part(const PartRecord& started, const PartRecord& ended);

  Statement job, run, part, event;
  unsigned seed = 20261207;
  int numbers[2] = {0, 0};
  int jobIndex = 0;
  int seq = 0;
  std::string runId;
  std::string station;
  std::string operatorName;
};

PartRecord TraceMaker::Row(const std::string& kind, double at) {
  PartRecord row;
  row.time = Time(at);
  row.host = station;
  row.image = "doorbell.bin";
  row.sha256 = std::string(64, 'b');
  row.run = runId;
  row.station = station;
  row.operatorName = operatorName;
  row.event = kind;
  return row;
}

void TraceMaker::Event(const PartRecord& row) {
  ++seq;
  event.Text(runId + "/" + std::to_string(seq)).Text(kJobs[jobIndex]).Integer(seq);
  event.Text(row.time).Text(row.host).Integer(row.programmer).Text(row.programmerKey);
  event.Integer(row.part).Text(row.chipId).Integer(row.otpSize).Text(row.image).Text(row.sha256);
  event.Text(row.result).Integer(row.exit).Real(row.stepSeconds[1]).Real(row.stepSeconds[2]);
  event.Real(row.stepSeconds[3]).Text(Joined(row.blocks)).Text(row.programmerPath);
  event.Text(row.programmerSerial).Text(row.status).Real(row.seconds).Text(row.run);
  event.Text(row.station).Text(row.operatorName).Integer(row.code).Text(row.event);
  event.Run();
  ++events;
}

void TraceMaker::Part(const PartRecord& started, const PartRecord& ended) {
  part.Text(kJobs[jobIndex]).Integer(started.part).Text(runId).Text(started.programmerKey);
  part.Text(started.chipId).Text(ended.result).Text(ended.status).Integer(ended.exit);
  part.Integer(ended.code).Real(ended.seconds).Real(ended.stepSeconds[1]);
  part.Real(ended.stepSeconds[2]).Real(ended.stepSeconds[3]).Text(Joined(ended.blocks));
  part.Text(started.time).Text(ended.time);
  part.Run();
}

// One run of a station: its start, count parts spread over its programmers, a programmer lost
// and back now and then, its end.
void TraceMaker::Run(int stationIndex, int count, double& clock) {
  station = "bench-" + std::to_string(stationIndex + 1);
  operatorName = kOperators[(runs + stationIndex) % 7];
  runId = qs71prog::RandomUuid();
  seq = 0;
  ++runs;
  const double begin = clock;
  Event(Row("start", clock));
  double free[kProgrammers];  // when each programmer has its next part in the socket
  std::fill(free, free + kProgrammers, clock);
  for (int index = 0; index < count; ++index) {
    const int tile = index % kProgrammers;
    PartRecord started = Row("started", free[tile]);
    started.programmer = tile + 1;
    started.programmerPath = "/dev/hidraw" + std::to_string(tile + 2);
    started.programmerSerial = started.programmerKey =
        "QS71-" + std::to_string(stationIndex + 1) + std::to_string(tile + 1);
    started.part = ++numbers[jobIndex];
    started.chipId = "6D 61 00 01";
    started.otpSize = 262144;
    Event(started);
    const unsigned luck = Random() % 1000;
    PartRecord ended = started;
    ended.event = "part";
    ended.seconds = kPartSeconds + (Random() % 100) / 100.0;
    ended.stepSeconds = {-1.0, 0.8, 9.1, ended.seconds - 9.9};
    ended.result = "pass";
    ended.status = "ok";
    if (luck < 20) {
      // Most failures are a verify's mismatch; a few blocks of a weak wafer area come back
      // again and again, the rest anywhere.
      const bool written = luck >= 3;
      ended.result = "fail";
      ended.status = luck < 3 ? "blank-check" : luck < 5 ? "write-failed" : "verify-mismatch";
      ended.exit = 4;
      ended.code = -7;
      if (written) {
        char block[40];
        const unsigned at = (Random() % 2 == 0 ? 0x1200 + Random() % 6 : Random() % 1024) * 256;
        std::snprintf(block, sizeof block, "0x%06X-0x%06X", at, at + 255);
        ended.blocks = {block};
      }
    } else if (luck < 23) {
      ended.result = "aborted";
      ended.status = "interrupted";
      ended.exit = 3;
      ended.stepSeconds[3] = -1.0;
    }
    free[tile] += ended.seconds + 3.0;  // and the part changed
    ended.time = Time(free[tile] - 3.0);
    Event(ended);
    Part(started, ended);
    if (Random() % kRunParts == 0) {
      PartRecord lost = Row("lost", free[tile]);
      lost.programmer = tile + 1;
      lost.programmerKey = lost.programmerSerial = started.programmerSerial;
      Event(lost);
      free[tile] += 30.0 + Random() % 90;
      PartRecord back = lost;
      back.event = "back";
      back.time = Time(free[tile]);
      Event(back);
    }
  }
  clock = *std::max_element(free, free + kProgrammers);
  PartRecord end = Row("end", clock);
  Event(end);
  run.Text(runId).Text(kJobs[jobIndex]).Text(station).Text(operatorName).Text(station);
  run.Text("bench").Text(Time(begin)).Text(end.time).Integer(0).Text("done").Run();
  clock += 300.0;  // a break between runs
}

void TraceMaker::Make(int parts) {
  const int lots[2] = {parts * 7 / 10, parts - parts * 7 / 10};
  for (int index = 0; index < 2; ++index) {
    job.Text(kJobs[index]).Text(index == 0 ? "doorbell" : "chime.bin").Text("WO-71" + std::to_string(index));
    job.Integer(lots[index]).Text("").Text("doorbell.bin").Text(std::string(64, 'b'));
    job.Integer(lots[index] + 1).Run();
  }
  double clocks[kStations] = {};
  int made = 0;
  for (int stationIndex = 0; made < parts; stationIndex = (stationIndex + 1) % kStations) {
    jobIndex = numbers[0] < lots[0] ? 0 : 1;
    const int count = std::min({kRunParts + static_cast<int>(Random() % 40) - 20, parts - made,
                                lots[jobIndex] - numbers[jobIndex]});
    Run(stationIndex, count, clocks[stationIndex]);
    made += count;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::atoi(argv[2]) <= 0) {
    std::fprintf(stderr, "usage: qs71_bench_make_trace DB PARTS\n");
    return 2;
  }
  const std::string path = argv[1];
  std::filesystem::remove(path);
  std::filesystem::remove(path + "-wal");
  std::filesystem::remove(path + "-shm");
  {
    qs71prog::SqliteStore store(path);
    std::string problem;
    if (!store.Open(problem)) {
      std::fprintf(stderr, "qs71_bench_make_trace: %s\n", problem.c_str());
      return 1;
    }
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Fail(db, path.c_str());
  if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db, "begin");
  long long events = 0;
  int runs = 0;
  {
    TraceMaker maker(db);
    maker.Make(std::atoi(argv[2]));
    events = maker.events;
    runs = maker.runs;
  }
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db, "commit");
  sqlite3_close(db);
  std::printf("parts %s\nruns %d\nevents %lld\n", argv[2], runs, events);
  return 0;
}
