// What the production trace adds to each part, without the programmer's pace: per part, the
// CSV log gets its two synced rows ("started" before the first write, "part" with the verdict,
// ProductionLog::Append), and the trace what the loop asks of it: a number from the run's
// reserve (RunTrace::TakeNumber, which now and then takes a grant), the check that its file is
// still in place, and the same two rows (RunTrace::Record), each a committed transaction.
// Timed per part through:
//
//   log              the CSV log alone, as before the trace
//   sqlite           RunTrace on the station's SQLite file
//   log+sqlite       both, as the production loop does them now
//   line             RunTrace on a PostgreSQL server (the forwarding store: the server and the
//                    station's own SQLite file beside it, as --trace postgresql://... runs)
//   log+line         both
//   server           the server alone (PostgresStore, the calls RunTrace makes)
//
// The server is the tests' own (tests/common/postgres_server.h: a cluster in SCRATCH, on
// 127.0.0.1, run as nobody when root), which runs with fsync off. The line and the server are
// then timed again on the same cluster started with fsync on ("-durable"), as a line's server
// runs: a commit is on its disk before it answers. The modes take turns, ROUNDS rounds of
// PARTS / ROUNDS parts each, so that a burst of other work hits them alike.
//
//   qs71_bench_trace SCRATCH PARTS [ROUNDS]
//
// Prints one line per mode: "mode parts median_ms p90_ms mean_ms".
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "postgres_server.h"
#include "production/production_log.h"
#include "trace/postgres_store.h"
#include "trace/random_id.h"
#include "trace/run_trace.h"

namespace {

namespace fs = std::filesystem;
using qs71prog::PartRecord;

struct Mode {
  std::string name;
  bool log = false;
  std::string trace;   // RunTrace's --trace target; empty for none
  std::string server;  // a connection for PostgresStore alone; empty for none
  std::string spool;   // the line's station file
  qs71prog::ProductionLog csv;
  qs71prog::RunTrace run;
  std::unique_ptr<qs71prog::PostgresStore> store;
  int seq = 0;
  std::vector<double> ms;
};

[[noreturn]] void Fail(const std::string& what, const std::string& problem) {
  std::fprintf(stderr, "qs71_bench_trace: %s: %s\n", what.c_str(), problem.c_str());
  std::exit(1);
}

qs71prog::TraceJob JobOf(const Mode& mode) {
  return {"bench-" + mode.name, "demo", "WO-1", "", "demo.bin", std::string(64, 'a'), 0};
}

// One ID per mode and process: a run's ID is random, and its rows must all name it.
const std::string& RunId(const Mode& mode) {
  static std::map<std::string, std::string> ids;
  auto [place, added] = ids.try_emplace(mode.name);
  if (added) place->second = qs71prog::RandomUuid();
  return place->second;
}

qs71prog::TraceRun RunOf(const Mode& mode) {
  qs71prog::TraceRun run;
  run.id = RunId(mode);
  run.job = JobOf(mode).hash;
  run.station = "bench-3";
  run.operatorName = "ann";
  run.host = "bench";
  run.version = "bench";
  run.startedAt = qs71prog::UtcTimestamp(std::chrono::system_clock::now());
  return run;
}

// The rows of a passed 256 KiB part, as the loop writes them.
PartRecord RowOf(const Mode& mode, int part, const char* event) {
  PartRecord row;
  row.time = qs71prog::UtcTimestamp(std::chrono::system_clock::now());
  row.host = "bench";
  row.programmer = 1;
  row.programmerPath = "/dev/hidraw3";
  row.programmerSerial = row.programmerKey = "QS71EMU-01";
  row.part = part;
  row.chipId = "6D 61 00 01";
  row.otpSize = 262144;
  row.image = "demo.bin";
  row.sha256 = std::string(64, 'a');
  row.run = RunOf(mode).id;
  row.station = "bench-3";
  row.operatorName = "ann";
  row.event = event;
  if (row.event == "part") {
    row.result = "pass";
    row.status = "ok";
    row.seconds = 12.5;
    row.stepSeconds = {-1.0, 0.8, 9.1, 2.6};
  }
  return row;
}

void Open(Mode& mode, const fs::path& scratch) {
  std::string problem;
  // The line's station file goes into the scratch.
  mode.spool = (scratch / (mode.name + "-spool.db")).string();
  if (mode.log && !mode.csv.Open((scratch / (mode.name + ".csv")).string(), problem)) {
    Fail(mode.name, problem);
  }
  if (!mode.trace.empty() &&
      !mode.run.Begin(qs71prog::TracePlace{mode.trace, mode.spool}, JobOf(mode), RunOf(mode),
                      problem)) {
    Fail(mode.name, problem);
  }
  if (!mode.server.empty()) {
    mode.store = std::make_unique<qs71prog::PostgresStore>(mode.server);
    if (!mode.store->Open(problem) || !mode.store->BeginRun(JobOf(mode), RunOf(mode), problem)) {
      Fail(mode.name, problem);
    }
  }
}

// A number and one row through the server alone, as RunTrace makes them.
int ServerNumber(Mode& mode) {
  qs71prog::NumberGrant grant;
  grant.id = qs71prog::RandomUuid();
  std::string problem;
  if (!mode.store->TakeNumbers(JobOf(mode).hash, RunOf(mode).id, 1, 0, grant, problem)) {
    Fail(mode.name, problem);
  }
  return grant.numbers.empty() ? 0 : grant.numbers.front();
}

void ServerRecord(Mode& mode, const PartRecord& row) {
  qs71prog::TraceEvent event;
  event.seq = ++mode.seq;
  event.id = row.run + "/" + std::to_string(event.seq);
  event.job = JobOf(mode).hash;
  event.row = row;
  std::string problem;
  if (!mode.store->Record(event, problem)) Fail(mode.name, problem);
}

// One row where the loop writes it: the trace first, then the log.
void Record(Mode& mode, const PartRecord& row) {
  std::string problem;
  if (!mode.trace.empty() && !mode.run.Record(row, problem)) Fail(mode.name, problem);
  if (!mode.server.empty()) ServerRecord(mode, row);
  if (mode.log && !mode.csv.Append(row, problem)) Fail(mode.name, problem);
}

void OnePart(Mode& mode) {
  const auto start = std::chrono::steady_clock::now();
  int part = mode.seq / 2 + 1;  // the log alone numbers its parts itself
  std::string problem;
  qs71prog::LotState state;
  if (!mode.trace.empty() &&
      (mode.run.TakeNumber(0, part, state, problem) != qs71prog::NumberTaken::kTaken ||
       !mode.run.StillInPlace(problem))) {
    Fail(mode.name, problem);
  }
  if (!mode.server.empty()) part = ServerNumber(mode);
  Record(mode, RowOf(mode, part, "started"));
  Record(mode, RowOf(mode, part, "part"));
  if (mode.server.empty()) mode.seq += 2;
  mode.ms.push_back(
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
}

void Report(const Mode& mode) {
  std::vector<double> ms = mode.ms;
  std::sort(ms.begin(), ms.end());
  double sum = 0.0;
  for (const double value : ms) sum += value;
  std::printf("%s %zu %.3f %.3f %.3f\n", mode.name.c_str(), ms.size(), ms[(ms.size() - 1) / 2],
              ms[ms.size() * 9 / 10], sum / ms.size());
  std::fflush(stdout);
}

// Every mode, a round at a time.
void RunModes(std::vector<std::unique_ptr<Mode>>& modes, const fs::path& scratch, int parts,
              int rounds) {
  for (auto& mode : modes) Open(*mode, scratch);
  for (int round = 0; round < rounds; ++round) {
    for (auto& mode : modes) {
      for (int i = 0; i < parts / rounds; ++i) OnePart(*mode);
    }
  }
  for (auto& mode : modes) {
    std::string problem;
    if (!mode->trace.empty()) mode->run.End(0, "done", problem);
    Report(*mode);
  }
}

std::unique_ptr<Mode> MakeMode(const std::string& name, bool log, const std::string& trace,
                               const std::string& server = "") {
  auto mode = std::make_unique<Mode>();
  mode->name = name;
  mode->log = log;
  mode->trace = trace;
  mode->server = server;
  return mode;
}

// The tests' cluster started again with fsync on, as nobody when root, on the same port.
// The server the tests start runs without fsync: its commits are not on the disk when they
// return, and a line's server's are.
pid_t StartDurable(const fs::path& scratch, const std::string& connection) {
  const std::string port = connection.substr(connection.rfind(':') + 1,
                                             connection.rfind('/') - connection.rfind(':') - 1);
  fs::path postgres;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql")) {
    if (fs::exists(entry.path() / "bin/postgres")) postgres = std::max(postgres, entry.path());
  }
  const passwd* nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr;
  const std::string log = (scratch / "postgres" / "durable.log").string();
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(126);
    if (nobody != nullptr && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)) {
      _exit(126);
    }
    if (prctl(PR_SET_PDEATHSIG, SIGINT) != 0 || getppid() != parent) _exit(126);
    const std::string program = (postgres / "bin/postgres").string();
    const std::string data = (scratch / "postgres" / "data").string();
    execl(program.c_str(), program.c_str(), "-D", data.c_str(), "-p", port.c_str(), "-c",
          "listen_addresses=127.0.0.1", "-c", "unix_socket_directories=", "-c", "fsync=on",
          "-c", "synchronous_commit=on", static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int attempt = 0; attempt < 300; ++attempt) {
    qs71prog::PostgresStore probe(connection);
    std::string problem;
    if (probe.Open(problem)) return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  Fail("postgres with fsync on", "did not answer within 30 s (" + log + ")");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || std::atoi(argv[2]) <= 0) {
    std::fprintf(stderr, "usage: qs71_bench_trace SCRATCH PARTS [ROUNDS]\n");
    return 2;
  }
  const fs::path scratch = fs::absolute(argv[1]);
  const int parts = std::atoi(argv[2]);
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  fs::create_directories(scratch);
  for (const auto& entry : fs::directory_iterator(scratch)) fs::remove_all(entry.path());
  const std::string db = (scratch / "trace.db").string();

  std::vector<std::unique_ptr<Mode>> modes;
  modes.push_back(MakeMode("log", true, ""));
  modes.push_back(MakeMode("sqlite", false, db));
  modes.push_back(MakeMode("log+sqlite", true, (scratch / "trace-with-log.db").string()));
  testsupport::PostgresServer server(scratch);
  std::string problem;
  const bool postgres = testsupport::PostgresServer::Installed();
  if (postgres && !server.Start(problem)) Fail("postgres", problem);
  if (postgres) {
    modes.push_back(MakeMode("line", false, server.Connection()));
    modes.push_back(MakeMode("log+line", true, server.Connection()));
    modes.push_back(MakeMode("server", false, "", server.Connection()));
  }
  RunModes(modes, scratch, parts, rounds);
  if (!postgres) return 0;

  modes.clear();
  server.Stop();
  const pid_t durable = StartDurable(scratch, server.Connection());
  modes.push_back(MakeMode("line-durable", false, server.Connection()));
  modes.push_back(MakeMode("log+line-durable", true, server.Connection()));
  modes.push_back(MakeMode("server-durable", false, "", server.Connection()));
  RunModes(modes, scratch, parts, rounds);
  modes.clear();
  kill(durable, SIGINT);
  waitpid(durable, nullptr, 0);
  return 0;
}
