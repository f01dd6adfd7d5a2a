#pragma once
// A PostgreSQL server of a test's own, from the system's postgresql package: its cluster, its
// log and everything else it writes live in the test's scratch folder. It listens on
// 127.0.0.1 alone, on a free port, and takes a password, so that a test can also be refused.
// Without TLS, or with TLS alone (ssl on, hostssl the only way in), its certificate made for
// kCertificateHost by a CA of the test's own (test_certificates.h).
// Run as root (as the tests are in CI), the server runs as nobody: PostgreSQL will not run as
// root. It goes with the test: stopped by Stop or the destructor, and told to stop by the
// kernel should the test process die first.

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "test_certificates.h"

namespace testsupport {

// kExpired: TLS alone, with a server certificate that ended yesterday.
enum class ServerTls { kNone, kRequired, kExpired };

class PostgresServer {
 public:
  static constexpr const char* kUser = "qs71";
  static constexpr const char* kPassword = "line-7-secret";
  static constexpr const char* kDatabase = "trace";
  // The one name in the server's certificate. Nobody resolves it: a connection names it as
  // its host for the certificate's check and reaches the server by hostaddr.
  static constexpr const char* kCertificateHost = "line-db.test";

  explicit PostgresServer(std::filesystem::path folder, ServerTls tls = ServerTls::kNone);
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // Whether the package's programs are on this machine.
  static bool Installed();

  // The first start makes the cluster and the database; a later one starts the same data on
  // the same port.
  bool Start(std::string& problem);
  void Stop();

  // The connection string a station is given for this server: without TLS
  // "postgresql://qs71:<password>@127.0.0.1:<port>/trace?sslmode=disable" (the server
  // speaks none); with TLS "postgresql://qs71:<password>@line-db.test:<port>/trace?
  // hostaddr=127.0.0.1&sslrootcert=<the test's CA>", verified as a station does by default.
  std::string Connection(const std::string& password = kPassword) const;
  // "postgresql://qs71@<host>:<port>/trace?<query>", the password left to a password file.
  std::string Url(const std::string& host, const std::string& query) const;
  int Port() const { return port; }
  // The CA that signed the server's certificate; empty without TLS.
  std::filesystem::path RootCertificate() const { return certificates.rootCertificate; }
  // A libpq password file (PGPASSFILE, pgpass.conf) for this server's user on any host name,
  // readable by its owner alone, as libpq requires.
  void WritePasswordFile(const std::filesystem::path& file,
                         const std::string& password = kPassword) const;

  // One statement through psql: its rows, one a line, columns joined by '|'.
  bool Sql(const std::string& statement, std::string& rows, std::string& problem) const;

 private:
  bool MakeCluster(std::string& problem);
  bool RequireTls(std::string& problem);
  bool Launch(std::string& problem);
  bool WaitReady(std::string& problem);

  std::filesystem::path folder;
  std::filesystem::path bin;
  int port = 0;
  pid_t pid = -1;
  bool made = false;
  ServerTls tls;
  TestCertificates certificates;
};

}  // namespace testsupport
