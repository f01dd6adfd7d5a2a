// A station's connection to the line's server, through the real qs71prog against servers of
// the test's own: TLS is required over TCP unless the connection string says otherwise, the
// server proves itself by its name with a certificate of the CA given, and every refusal is
// libpq's reason (with the way to allow a server without TLS, where that is the reason),
// never the password.

#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "file_contents.h"
#include "postgres_server.h"
#include "prog_run.h"
#include "test_scratch.h"

namespace qs71prog::test {
namespace {

using testsupport::PostgresServer;
using testsupport::ServerTls;

struct TlsCase {
  const char* name;
  ServerTls server;
  const char* host;      // as the connection string names the server
  const char* query;     // its settings; {ca} is the test's CA
  const char* password;  // in the station's password file
  int exitCode;
  const char* says;      // in what the station prints
  bool notEncrypted;     // the screen and the summary name the trace "(not encrypted)"
  bool openPasswordFile; // others may read the password file
};

const char* const kWrongPassword = "line-8-wrong";

const TlsCase kCases[] = {
    {"VerifiedByItsName", ServerTls::kRequired, "line-db.test",
     "hostaddr=127.0.0.1&sslrootcert={ca}", PostgresServer::kPassword, 0,
     "trace: postgresql://qs71@line-db.test:", false, false},
    {"ACertificateOfAnotherName", ServerTls::kRequired, "localhost",
     "hostaddr=127.0.0.1&sslrootcert={ca}", PostgresServer::kPassword, 9,
     "server certificate for \"line-db.test\" does not match host name \"localhost\"", false, false},
    {"AServerWithoutTls", ServerTls::kNone, "127.0.0.1", "", PostgresServer::kPassword, 9,
     "server does not support SSL, but SSL was required; to record on this server without "
     "encryption, add sslmode=disable to the connection string",
     false, false},
    {"NoTlsAllowedInTheConnectionString", ServerTls::kNone, "127.0.0.1", "sslmode=disable",
     PostgresServer::kPassword, 0, "trace: postgresql://qs71@127.0.0.1:", true, false},
    {"AnExpiredCertificate", ServerTls::kExpired, "line-db.test",
     "hostaddr=127.0.0.1&sslrootcert={ca}", PostgresServer::kPassword, 9,
     "certificate verify failed", false, false},
    {"AWrongPassword", ServerTls::kRequired, "line-db.test",
     "hostaddr=127.0.0.1&sslrootcert={ca}", kWrongPassword, 9,
     "password authentication failed for user \"qs71\"", false, false},
    {"NoRootCertificate", ServerTls::kRequired, "line-db.test", "hostaddr=127.0.0.1",
     PostgresServer::kPassword, 9,
     "/.postgresql/root.crt\" does not exist; the line's CA goes there, or into the file the "
     "station policy's root-certificate names",
     false, false},
    {"APasswordFileOthersCanRead", ServerTls::kRequired, "line-db.test",
     "hostaddr=127.0.0.1&sslrootcert={ca}", PostgresServer::kPassword, 9,
     "fe_sendauth: no password supplied; the password comes from the password file", false, true},
};

class ProgLineTls : public testing::TestWithParam<TlsCase> {
 protected:
  static void SetUpTestSuite() {
    if (!PostgresServer::Installed()) return;
    dir = CleanScratchFolder(QS71_TEST_TMPDIR, "ProgLineTls");
    image = GeneratedImage(dir / "gen");
  }
  static void TearDownTestSuite() { servers.clear(); }

  // One server of each kind, for every case that asks for it.
  PostgresServer* Server(ServerTls tls) {
    auto& server = servers[tls];
    if (server == nullptr) {
      server = std::make_unique<PostgresServer>(dir / ("server" + std::to_string(int(tls))), tls);
      std::string problem;
      if (!server->Start(problem)) {
        ADD_FAILURE() << problem;
        server.reset();
      }
    }
    return server.get();
  }

  static std::filesystem::path dir;
  static std::filesystem::path image;
  static std::map<ServerTls, std::unique_ptr<PostgresServer>> servers;
};

std::filesystem::path ProgLineTls::dir;
std::filesystem::path ProgLineTls::image;
std::map<ServerTls, std::unique_ptr<PostgresServer>> ProgLineTls::servers;

TEST_P(ProgLineTls, AStationReachesTheLinesServer) {
  if (!PostgresServer::Installed()) GTEST_SKIP() << "no PostgreSQL server on this machine";
  const TlsCase& c = GetParam();
  ASSERT_FALSE(image.empty());
  PostgresServer* server = Server(c.server);
  ASSERT_NE(server, nullptr);
  const std::string query = std::regex_replace(c.query, std::regex("\\{ca\\}"),
                                               server->RootCertificate().string());
  const std::filesystem::path station = dir / c.name;
  std::filesystem::create_directories(station / "socket");
  server->WritePasswordFile(station / "pgpass", c.password);
  if (c.openPasswordFile) {
    std::filesystem::permissions(station / "pgpass", std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
  }
  ASSERT_EQ(RunProg({"--emulate=" + (station / "socket" / "part1.otp").string(), "--identify"})
                .exitCode,
            0);
  // HOME holds no root.crt of libpq's own: the CA is the connection string's alone.
  const ProcessResult run = RunProg(
      {"--emulate", "--write", image.string(), "--production", "--count", "1", "--station",
       c.name, "--summary", (station / "summary.json").string(), "--trace",
       server->Url(c.host, query)},
      {{"QS71_EMU_OPERATOR", "0"}, {"QS71_EMU_SOCKET", (station / "socket").string()},
       {"XDG_STATE_HOME", (station / "state").string()}, {"HOME", station.string()},
       {"PGPASSFILE", (station / "pgpass").string()}});
  const std::string printed = run.out + run.err;
  EXPECT_EQ(run.exitCode, c.exitCode) << printed;
  EXPECT_NE(printed.find(c.says), std::string::npos) << printed;
  EXPECT_EQ(printed.find("/trace (not encrypted)") != std::string::npos, c.notEncrypted)
      << printed;
  if (c.exitCode == 0) {
    std::string rows, problem;
    EXPECT_TRUE(server->Sql("SELECT count(*) FROM parts WHERE result = 'pass' AND run IN "
                            "(SELECT id FROM runs WHERE station = '" +
                                std::string(c.name) + "')",
                            rows, problem))
        << problem;
    EXPECT_EQ(rows, "1\n");
    EXPECT_EQ(ReadFileText(station / "summary.json").find("/trace (not encrypted)\"") !=
                  std::string::npos,
              c.notEncrypted);
  }
  for (const char* password : {PostgresServer::kPassword, kWrongPassword}) {
    EXPECT_EQ(printed.find(password), std::string::npos) << printed;
  }
}

INSTANTIATE_TEST_SUITE_P(Connections, ProgLineTls, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qs71prog::test
