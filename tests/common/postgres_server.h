#pragma once
// A PostgreSQL server of a test's own, from the system's postgresql package: its cluster, its
// log and everything else it writes live in the test's scratch folder. It listens on
// 127.0.0.1 alone, on a free port, and takes a password, so that a test can also be refused.
// Run as root (as the tests are in CI), the server runs as nobody: PostgreSQL will not run as
// root. It goes with the test: stopped by Stop or the destructor, and told to stop by the
// kernel should the test process die first.

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace testsupport {

class PostgresServer {
 public:
  static constexpr const char* kUser = "qs71";
  static constexpr const char* kPassword = "line-7-secret";
  static constexpr const char* kDatabase = "trace";

  explicit PostgresServer(std::filesystem::path folder);
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // Whether the package's programs are on this machine.
  static bool Installed();

  // The first start makes the cluster and the database; a later one starts the same data on
  // the same port.
  bool Start(std::string& problem);
  void Stop();

  // "postgresql://qs71:<password>@127.0.0.1:<port>/trace"
  std::string Connection(const std::string& password = kPassword) const;

  // One statement through psql: its rows, one a line, columns joined by '|'.
  bool Sql(const std::string& statement, std::string& rows, std::string& problem) const;

 private:
  bool MakeCluster(std::string& problem);
  bool Launch(std::string& problem);
  bool WaitReady(std::string& problem);

  std::filesystem::path folder;
  std::filesystem::path bin;
  int port = 0;
  pid_t pid = -1;
  bool made = false;
};

}  // namespace testsupport
