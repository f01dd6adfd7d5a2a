// A line of stations on one PostgreSQL trace, through the real qs71prog: two stations share a
// job's lot and never a number, and a station cut off from the server goes on locally and
// forwards everything, once, when the server is back.

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "file_contents.h"
#include "postgres_server.h"
#include "prog_run.h"
#include "test_scratch.h"

namespace qs71prog::test {
namespace {

using testsupport::PostgresServer;

class ProgLineTrace : public testing::Test {
 protected:
  void SetUp() override {
    if (!PostgresServer::Installed()) GTEST_SKIP() << "no PostgreSQL server on this machine";
    dir = CleanScratchFolder(QS71_TEST_TMPDIR,
                             testing::UnitTest::GetInstance()->current_test_info()->name());
    image = GeneratedImage(dir / "gen");
    ASSERT_FALSE(image.empty());
    server = std::make_unique<PostgresServer>(dir / "server");
    std::string problem;
    ASSERT_TRUE(server->Start(problem)) << problem;
  }

  // A station: its own socket of parts, its own state folder (its local trace), the line's
  // trace.
  ProcessResult Station(const std::string& name, int parts, std::vector<std::string> arguments) {
    const std::filesystem::path socket = dir / name;
    std::filesystem::create_directories(socket);
    for (int i = 1; i <= parts; ++i) {
      RunProg({"--emulate=" + (socket / ("part" + std::to_string(i) + ".otp")).string(), "--identify"});
    }
    arguments.insert(arguments.begin(), {"--emulate", "--production", "--station", name, "--trace",
                                         server->Connection()});
    return RunProg(arguments, {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", socket.string()},
                               {"QS71_TRUST_DIR", (dir / "no-keys").string()},
                               {"XDG_STATE_HOME", (dir / (name + "-state")).string()}});
  }

  std::string Sql(const std::string& statement) {
    std::string rows, problem;
    EXPECT_TRUE(server->Sql(statement, rows, problem)) << problem;
    return rows;
  }

  std::filesystem::path dir;
  std::filesystem::path image;
  std::unique_ptr<PostgresServer> server;
};

TEST_F(ProgLineTrace, TwoStationsShareALotAndNeverANumber) {
  const std::string job = (dir / "toy.job").string();
  ASSERT_EQ(RunProg({"--make-job", job, "--write", image.string(), "--lot", "20"}).exitCode, 0);
  // Each station has parts enough for the whole lot: a station may hold in reserve any of
  // the numbers the lot has room for, and waits for parts while it holds them.
  ProcessResult runs[2];
  std::thread first([&] { runs[0] = Station("st1", 20, {"--job", job}); });
  std::thread second([&] { runs[1] = Station("st2", 20, {"--job", job}); });
  first.join();
  second.join();
  for (const ProcessResult& run : runs) {
    EXPECT_EQ(run.exitCode, 15) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find("the lot of 20 parts is complete"), std::string::npos)
        << run.out << run.err;
  }
  EXPECT_EQ(Sql("SELECT count(*), count(DISTINCT number), min(number), max(number) FROM parts "
                "WHERE result = 'pass'"),
            "20|20|1|20\n");
  EXPECT_EQ(Sql("SELECT count(DISTINCT station) FROM runs"), "2\n");

  const ProcessResult again = Station("st3", 1, {"--job", job});
  EXPECT_EQ(again.exitCode, 15);
  EXPECT_NE(again.err.find("is complete (20 good parts of 20, 0 scrap"), std::string::npos)
      << again.err;
}

TEST_F(ProgLineTrace, AStationCutOffRecordsLocallyAndForwardsWhenTheServerIsBack) {
  testsupport::LiveProcess cut(
      {QS71PROG_PATH, "--emulate", "--write", image.string(), "--production", "--count", "3",
       "--station", "st1", "--trace", server->Connection()},
      {.environment = {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", (dir / "st1").string()},
                       {"XDG_STATE_HOME", (dir / "st1-state").string()}}});
  // A part is made apart and then put into the socket whole: the running station holds every
  // part file it meets, and must not meet one still being made.
  const auto part = [&](int i) {
    const std::string name = "part" + std::to_string(i) + ".otp";
    RunProg({"--emulate=" + (dir / "made" / name).string(), "--identify"});
    std::filesystem::rename(dir / "made" / name, dir / "st1" / name);
  };
  std::filesystem::create_directories(dir / "st1");
  std::filesystem::create_directories(dir / "made");
  part(1);
  std::string line, seen;
  while (cut.ReadLine(line) && line.find("PASS") == std::string::npos) seen += line + "\n";
  // The next parts come only once the server is down: the socket takes each new part file.
  server->Stop();
  part(2);
  part(3);
  while (cut.ReadLine(line)) seen += line + "\n";
  EXPECT_EQ(cut.Wait(), 0) << seen;
  EXPECT_NE(seen.find("not answering: recording locally"), std::string::npos) << seen;

  // A report asked of a server that does not answer is refused: the station's own figures are
  // not the line's.
  const Environment st1 = {{"XDG_STATE_HOME", (dir / "st1-state").string()}};
  const ProcessResult away = RunProg({"--report", "-", "--trace", server->Connection()}, st1);
  EXPECT_EQ(away.exitCode, 9) << away.out << away.err;
  EXPECT_EQ(away.out, "");
  EXPECT_NE(away.err.find("cannot open the trace postgresql://qs71@127.0.0.1:"),
            std::string::npos)
      << away.err;
  const std::string spool = (dir / "st1-state" / "qs71" / "trace.db").string();
  const auto queued = [&] {
    return testsupport::RunProcess({"sqlite3", spool, "SELECT count(*) FROM outbox"}).out;
  };
  const std::string waiting = queued();
  EXPECT_NE(waiting, "0\n");

  std::string problem;
  ASSERT_TRUE(server->Start(problem)) << problem;
  // Once it answers, a report reads the server alone and writes to neither: the station's
  // queue stays for its next run.
  const ProcessResult report = RunProg({"--report", "-", "--trace", server->Connection()}, st1);
  EXPECT_EQ(report.exitCode, 0) << report.err;
  EXPECT_NE(report.out.find("\nall      1     1     0 "), std::string::npos) << report.out;
  EXPECT_EQ(queued(), waiting);
  EXPECT_EQ(Sql("SELECT count(*) FROM parts"), "1\n");
  std::filesystem::remove_all(dir / "st1");  // a fresh part; the station's local trace stays
  const ProcessResult next = Station("st1", 1, {"--write", image.string(), "--count", "1"});
  EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
  // Every part of both runs, once: the first run's forwarded by the second.
  EXPECT_EQ(Sql("SELECT count(*), count(DISTINCT number) FROM parts WHERE result = 'pass'"),
            "4|4\n") << seen << next.out << next.err;
  EXPECT_EQ(Sql("SELECT count(*) FROM runs WHERE ended_at IS NOT NULL"), "2\n");
  const testsupport::ProcessResult outbox = testsupport::RunProcess(
      {"sqlite3", (dir / "st1-state" / "qs71" / "trace.db").string(), "SELECT count(*) FROM outbox"});
  EXPECT_EQ(outbox.out, "0\n") << outbox.err;
}

// The lot's line on a station's screen is the line's, read from the trace at each part: the
// parts of another station are in it. While the server is away it is the last figure the
// server gave, and says when.
TEST_F(ProgLineTrace, TheLotLineCountsTheWholeLine) {
  const std::string job = (dir / "toy.job").string();
  ASSERT_EQ(RunProg({"--make-job", job, "--write", image.string(), "--lot", "20"}).exitCode, 0);
  const auto station = [&](const std::string& name) {
    std::filesystem::create_directories(dir / name);
    return std::make_unique<testsupport::LiveProcess>(
        std::vector<std::string>{"sh", "-c", "exec \"$0\" \"$@\" 2>&1", QS71PROG_PATH,
                                 "--emulate", "--production", "--job", job, "--station", name,
                                 "--trace", server->Connection()},
        testsupport::ProcessOptions{
            .environment = {{"QS71_EMU_OPERATOR", "0"},
                            {"QS71_EMU_SOCKET", (dir / name).string()},
                            {"QS71_TRUST_DIR", (dir / "no-keys").string()},
                            {"XDG_STATE_HOME", (dir / (name + "-state")).string()}}});
  };
  // A part is made apart and put into the socket whole.
  int made = 0;
  const auto part = [&](const std::string& name) {
    const std::string file = "part" + std::to_string(++made) + ".otp";
    std::filesystem::create_directories(dir / "made");
    RunProg({"--emulate=" + (dir / "made" / file).string(), "--identify"});
    std::filesystem::rename(dir / "made" / file, dir / name / file);
  };
  // Reads a station's lines up to the one that holds text, which it returns.
  const auto until = [](testsupport::LiveProcess& process, const std::string& text,
                        std::string& seen) {
    std::string line;
    while (process.ReadLine(line)) {
      seen += line + "\n";
      if (line.find(text) != std::string::npos) return line;
    }
    return std::string();
  };
  std::string seenA, seenB;
  const auto a = station("stA");
  part("stA");
  EXPECT_NE(until(*a, "lot 20: 1 good, 0 scrap, 19 to go", seenA), "") << seenA;

  const auto b = station("stB");
  part("stB");
  part("stB");
  until(*b, "lot 20: 3 good, 0 scrap, 17 to go", seenB);
  b->Send(SIGTERM);
  until(*b, "production ended", seenB);
  EXPECT_EQ(b->Wait(), 12) << seenB;

  part("stA");
  EXPECT_NE(until(*a, "lot 20: 4 good", seenA).find("lot 20: 4 good, 0 scrap, 16 to go"),
            std::string::npos)
      << seenA;

  server->Stop();
  part("stA");
  EXPECT_NE(until(*a, "programmer 1 part 3: ", seenA).find(": PASS"), std::string::npos) << seenA;
  EXPECT_NE(until(*a, "as the line's trace said at ", seenA)
                .find("lot 20: 4 good, 0 scrap, 16 to go, as the line's trace said at "),
            std::string::npos)
      << seenA;
  std::string problem;
  ASSERT_TRUE(server->Start(problem)) << problem;
  a->Send(SIGTERM);
  until(*a, "production ended", seenA);
  EXPECT_EQ(a->Wait(), 12) << seenA;
  EXPECT_EQ(Sql("SELECT count(*) FROM parts WHERE result = 'pass'"), "5\n") << seenA;
}

// A station whose line server does not answer and that holds no numbers yet waits for the
// server, saying so, rather than ending; once it answers the part is made and the run ends
// for its own reason.
TEST_F(ProgLineTrace, AStationWithoutNumbersWaitsForItsServer) {
  server->Stop();
  std::filesystem::create_directories(dir / "st1");
  RunProg({"--emulate=" + (dir / "st1" / "part1.otp").string(), "--identify"});
  testsupport::LiveProcess station(
      {"sh", "-c", "exec \"$0\" \"$@\" 2>&1", QS71PROG_PATH, "--emulate", "--write",
       image.string(), "--production", "--count", "1", "--station", "st1", "--trace",
       server->Connection(), "--summary", (dir / "summary.json").string()},
      {.environment = {{"QS71_EMU_SOCKET", (dir / "st1").string()},
                       {"XDG_STATE_HOME", (dir / "st1-state").string()}}});
  std::string line, seen;
  while (station.ReadLine(line) && line.find("waiting for the line's trace: ") == std::string::npos) {
    seen += line + "\n";
  }
  ASSERT_NE(line.find("waiting for the line's trace: 2 events to send"), std::string::npos)
      << seen << line;
  std::string problem;
  ASSERT_TRUE(server->Start(problem)) << problem;
  while (station.ReadLine(line)) seen += line + "\n";
  EXPECT_EQ(station.Wait(), 0) << seen;
  EXPECT_EQ(Sql("SELECT result FROM parts"), "pass\n");
  EXPECT_EQ(Sql("SELECT how FROM runs"), "count reached\n");
  EXPECT_NE(ReadFileText(dir / "summary.json").find("\"ended\": \"count reached\""),
            std::string::npos);
}

// A station with a policy records where its policy says, with the password from libpq's own
// file, never from a command line; a CA in the policy asks the server to prove itself by TLS,
// which this test's server does not speak, where the policy's trace does not allow it without.
TEST_F(ProgLineTrace, AStationOfAPolicyTakesTheLinesPasswordFromPgpass) {
  const std::string bare = server->Url("127.0.0.1", "sslmode=disable");
  ASSERT_EQ(RunProg({"--make-key", (dir / "alice").string()}).exitCode, 0);
  std::filesystem::create_directories(dir / "keys");
  std::filesystem::copy_file(dir / "alice.pub", dir / "keys" / "alice.pub");
  const std::string job = (dir / "doorbell.job").string();
  ASSERT_EQ(RunProg({"--make-job", job, "--write", image.string(), "--lot", "1", "--sign",
                     (dir / "alice").string()}).exitCode, 0);
  std::ofstream(dir / "ca.crt") << "-----BEGIN CERTIFICATE-----\n";
  server->WritePasswordFile(dir / "pgpass");
  const auto WritePolicy = [&](const std::string& trace, const std::string& more) {
    std::ofstream(dir / "station.toml", std::ios::trunc)
        << "station = \"st-p\"\njobs = \"signed\"\ntrusted-keys = \"" << (dir / "keys").string()
        << "\"\ntrace = \"" << trace << "\"\nspool = \"" << (dir / "spool.db").string()
        << "\"\ndry-runs = \"recorded\"\n" << more;
  };
  const struct {
    const char* name;
    std::string trace;  // of the policy
    std::string more;
    const char* passwords;
    int exit;
    std::string says;
  } cases[] = {
      {"the password from pgpass", bare, "", "pgpass", 15, "the lot of 1 parts is complete"},
      {"no password anywhere", bare, "", "none", 9, "cannot open the trace postgresql://qs71@127.0.0.1:"},
      {"a CA for a server without TLS", server->Url("127.0.0.1", ""),
       "root-certificate = \"" + (dir / "ca.crt").string() + "\"\n", "pgpass", 9,
       "server does not support SSL, but SSL was required"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WritePolicy(c.trace, c.more);
    EmptyFolder(dir / "st-p");
    RunProg({"--emulate=" + (dir / "st-p" / "part1.otp").string(), "--identify"});
    const Environment environment = {{"QS71_STATION_POLICY", (dir / "station.toml").string()},
                               {"QS71_EMU_OPERATOR", "0"},
                               {"QS71_EMU_SOCKET", (dir / "st-p").string()},
                               {"XDG_CONFIG_HOME", (dir / "config").string()},
                               {"PGPASSFILE", (dir / c.passwords).string()}};
    const ProcessResult run = RunProg({"--emulate", "--production", "--job", job}, environment);
    EXPECT_EQ(run.exitCode, c.exit) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
  }
  EXPECT_EQ(Sql("SELECT station, count(*) FROM parts JOIN runs ON runs.id = parts.run "
                "WHERE result = 'pass' GROUP BY station"),
            "st-p|1\n");
  EXPECT_TRUE(std::filesystem::exists(dir / "spool.db"));
  // libpq would take another address, another TLS mode and other services from the operator's
  // environment; under the policy its trace alone says where the line's server is.
  WritePolicy(bare, "");
  const ProcessResult report = RunProg(
      {"--report", "-"}, {{"QS71_STATION_POLICY", (dir / "station.toml").string()},
                          {"XDG_CONFIG_HOME", (dir / "config").string()},
                          {"PGPASSFILE", (dir / "pgpass").string()},
                          {"PGHOSTADDR", "127.0.0.2"},
                          {"PGSSLMODE", "require"},
                          {"PGSERVICEFILE", (dir / "mine.conf").string()}});
  EXPECT_EQ(report.exitCode, 0) << report.out << report.err;
}

}  // namespace
}  // namespace qs71prog::test

namespace qs71prog::test {
namespace {

// Verdicts the line's server refuses (here by a trigger of the plant's own) are set aside in
// the station's spool: the run goes on and says so, the report says so, and --clear-refused
// sends each again: what the server takes now leaves the spool, what it still refuses is kept
// there, cleared, with the server's words; after that neither counts them.
TEST_F(ProgLineTrace, RefusedEventsAreSetAsideUntilTheirCommandClearsThem) {
  ASSERT_EQ(Station("st1", 1, {"--write", image.string(), "--count", "1"}).exitCode, 0);
  const auto refuse = [&](const std::string& parts) {
    Sql("CREATE OR REPLACE FUNCTION refuse_parts() RETURNS trigger AS $$ BEGIN "
        "IF NEW.kind = 'part' AND NEW.part IN (" + parts + ") THEN "
        "RAISE EXCEPTION 'the plant holds part %', NEW.part; END IF; RETURN NEW; END $$ "
        "LANGUAGE plpgsql");
  };
  refuse("2, 3");
  Sql("CREATE TRIGGER refuse_parts BEFORE INSERT ON events FOR EACH ROW EXECUTE FUNCTION "
      "refuse_parts()");
  std::filesystem::remove_all(dir / "st1");
  const std::string summary = (dir / "summary.json").string();
  const ProcessResult run =
      Station("st1", 2, {"--write", image.string(), "--count", "2", "--summary", summary});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("1 event the line refused"), std::string::npos) << run.out << run.err;
  EXPECT_EQ(Sql("SELECT number, result FROM parts ORDER BY number"), "1|pass\n2|\n3|\n");
  // The run's summary names them too, with where they are and what clears them.
  const std::string spool = (dir / "st1-state" / "qs71" / "trace.db").string();
  EXPECT_NE(run.out.find("qs71prog: 2 events the line refused (set aside in " + spool +
                         ": qs71prog --clear-refused)\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("go to it with this station's next run"), std::string::npos) << run.out;
  EXPECT_NE(ReadFileText(summary).find("\"refused\": 2,"), std::string::npos)
      << ReadFileText(summary);
  const auto command = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--trace", server->Connection()});
    return RunProg(arguments, {{"XDG_STATE_HOME", (dir / "st1-state").string()}});
  };
  ProcessResult report = command({"--report", "-"});
  EXPECT_EQ(report.exitCode, 0) << report.err;
  EXPECT_NE(report.out.find("refused: 2 events the line refused (set aside in " + spool +
                            ": qs71prog --clear-refused)"),
            std::string::npos)
      << report.out;

  refuse("3");
  const ProcessResult cleared = command({"--clear-refused"});
  EXPECT_EQ(cleared.exitCode, 0) << cleared.err;
  EXPECT_NE(cleared.out.find("sent now: event "), std::string::npos) << cleared.out;
  EXPECT_NE(cleared.out.find(", cleared: event "), std::string::npos) << cleared.out;
  EXPECT_NE(cleared.out.find("the plant holds part 3"), std::string::npos) << cleared.out;
  EXPECT_NE(cleared.out.find("2 events the line refused: 1 sent now, 1 kept in " + spool +
                             " and cleared"),
            std::string::npos)
      << cleared.out;
  EXPECT_EQ(Sql("SELECT number, result FROM parts ORDER BY number"), "1|pass\n2|pass\n3|\n");
  report = command({"--report", "-"});
  EXPECT_EQ(report.exitCode, 0) << report.err;
  EXPECT_EQ(report.out.find("the line refused"), std::string::npos) << report.out;
}

}  // namespace
}  // namespace qs71prog::test
