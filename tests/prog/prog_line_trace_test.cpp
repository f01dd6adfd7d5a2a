// A line of stations on one PostgreSQL trace, through the real qs71prog: two stations share a
// job's lot and never a number, and a station cut off from the server goes on locally and
// forwards everything, once, when the server is back.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
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
    return RunProg(arguments, {{"QS71_EMU_SOCKET", socket.string()},
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
  ProcessResult runs[2];
  std::thread first([&] { runs[0] = Station("st1", 14, {"--job", job}); });
  std::thread second([&] { runs[1] = Station("st2", 14, {"--job", job}); });
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
  EXPECT_NE(again.err.find("is complete (20 of 20 parts made"), std::string::npos) << again.err;
}

TEST_F(ProgLineTrace, AStationCutOffRecordsLocallyAndForwardsWhenTheServerIsBack) {
  testsupport::LiveProcess cut(
      {QS71PROG_PATH, "--emulate", "--write", image.string(), "--production", "--count", "3",
       "--station", "st1", "--trace", server->Connection()},
      {.environment = {{"QS71_EMU_SOCKET", (dir / "st1").string()},
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

  std::string problem;
  ASSERT_TRUE(server->Start(problem)) << problem;
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

// A station with a policy records where its policy says, with the password from libpq's own
// file, never from a command line; a CA in the policy asks the server to prove itself by TLS,
// which this test's server does not speak.
TEST_F(ProgLineTrace, AStationOfAPolicyTakesTheLinesPasswordFromPgpass) {
  const std::string connection = server->Connection();
  const std::string bare = std::regex_replace(connection, std::regex(":[^:@/]+@"), "@");
  const std::string port = std::regex_replace(connection, std::regex(".*:([0-9]+)/trace$"), "$1");
  ASSERT_EQ(RunProg({"--make-key", (dir / "alice").string()}).exitCode, 0);
  std::filesystem::create_directories(dir / "keys");
  std::filesystem::copy_file(dir / "alice.pub", dir / "keys" / "alice.pub");
  const std::string job = (dir / "doorbell.job").string();
  ASSERT_EQ(RunProg({"--make-job", job, "--write", image.string(), "--lot", "1", "--sign",
                     (dir / "alice").string()}).exitCode, 0);
  std::ofstream(dir / "ca.crt") << "-----BEGIN CERTIFICATE-----\n";
  std::ofstream(dir / "pgpass") << "127.0.0.1:" << port << ":trace:qs71:" << PostgresServer::kPassword << "\n";
  std::filesystem::permissions(dir / "pgpass", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const struct {
    const char* name;
    std::string more;  // of the policy
    const char* passwords;
    int exit;
    std::string says;
  } cases[] = {
      {"the password from pgpass", "", "pgpass", 15, "the lot of 1 parts is complete"},
      {"no password anywhere", "", "none", 9, "cannot open the trace " + bare},
      {"a CA for a server without TLS", "root-certificate = \"" + (dir / "ca.crt").string() + "\"\n",
       "pgpass", 9, "server does not support SSL, but SSL was required"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(dir / "station.toml", std::ios::trunc)
        << "station = \"st-p\"\njobs = \"signed\"\ntrusted-keys = \"" << (dir / "keys").string()
        << "\"\ntrace = \"" << bare << "\"\nspool = \"" << (dir / "spool.db").string() << "\"\n" << c.more;
    EmptyFolder(dir / "st-p");
    RunProg({"--emulate=" + (dir / "st-p" / "part1.otp").string(), "--identify"});
    const ProcessResult run = RunProg(
        {"--emulate", "--production", "--job", job},
        {{"QS71_STATION_POLICY", (dir / "station.toml").string()},
         {"QS71_EMU_SOCKET", (dir / "st-p").string()},
         {"XDG_CONFIG_HOME", (dir / "config").string()},
         {"PGPASSFILE", (dir / c.passwords).string()}});
    EXPECT_EQ(run.exitCode, c.exit) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
  }
  EXPECT_EQ(Sql("SELECT station, count(*) FROM parts JOIN runs ON runs.id = parts.run "
                "WHERE result = 'pass' GROUP BY station"),
            "st-p|1\n");
  EXPECT_TRUE(std::filesystem::exists(dir / "spool.db"));
}

}  // namespace
}  // namespace qs71prog::test
