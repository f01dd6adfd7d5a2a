#include "postgres_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <glob.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "process_runner.h"

namespace testsupport {

namespace {

// The newest installed server's programs: /usr/lib/postgresql/<version>/bin.
std::filesystem::path ServerPrograms() {
  glob_t found{};
  std::vector<std::filesystem::path> folders;
  if (glob("/usr/lib/postgresql/*/bin/postgres", 0, nullptr, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc; ++i) {
      folders.push_back(std::filesystem::path(found.gl_pathv[i]).parent_path());
    }
  }
  globfree(&found);
  auto newer = [](const auto& a, const auto& b) {
    return std::stoi(a.parent_path().filename().string()) <
           std::stoi(b.parent_path().filename().string());
  };
  return folders.empty() ? std::filesystem::path()
                         : *std::max_element(folders.begin(), folders.end(), newer);
}

// A port nobody listens on now. Another test may take it before the server does; Start then
// tries another.
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

// Who the server's programs run as: nobody when the test runs as root, else the test's user.
struct Identity {
  bool change = false;
  uid_t uid = 0;
  gid_t gid = 0;
};

Identity ServerIdentity() {
  Identity identity;
  if (geteuid() != 0) return identity;
  const passwd* user = getpwnam("nobody");
  if (user == nullptr) return identity;
  return {true, user->pw_uid, user->pw_gid};
}

// Starts a server program with its output in log, as identity, told SIGINT (a fast shutdown)
// when the test process ends. Only system calls between fork and exec: the test may have
// threads.
pid_t LaunchAs(const std::vector<std::string>& commandLine, const std::filesystem::path& log,
               const Identity& identity) {
  std::vector<std::string> words = commandLine;
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (out < 0) return -1;
  if (identity.change && fchown(out, identity.uid, identity.gid) != 0) return close(out), -1;
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(126);
    if (identity.change &&
        (setgroups(0, nullptr) != 0 || setresgid(identity.gid, identity.gid, identity.gid) != 0 ||
         setresuid(identity.uid, identity.uid, identity.uid) != 0)) {
      _exit(126);
    }
    // Set after the change of user, which clears it.
    if (prctl(PR_SET_PDEATHSIG, SIGINT) != 0 || getppid() != parent) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out);
  return pid;
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void GiveTo(const std::filesystem::path& path, const Identity& identity) {
  if (!identity.change) return;
  if (chown(path.c_str(), identity.uid, identity.gid) != 0) return;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path, error)) {
    if (chown(entry.path().c_str(), identity.uid, identity.gid) != 0) return;
  }
}

std::string LogTail(const std::filesystem::path& log) {
  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

}  // namespace

PostgresServer::PostgresServer(std::filesystem::path folder, ServerTls tls)
    : folder(std::move(folder) / "postgres"), bin(ServerPrograms()), tls(tls) {}

PostgresServer::~PostgresServer() { Stop(); }

bool PostgresServer::Installed() { return !ServerPrograms().empty(); }

std::string PostgresServer::Url(const std::string& host, const std::string& query) const {
  return std::string("postgresql://") + kUser + "@" + host + ":" + std::to_string(port) + "/" +
         kDatabase + (query.empty() ? "" : "?" + query);
}

std::string PostgresServer::Connection(const std::string& password) const {
  const std::string url =
      tls == ServerTls::kNone
          ? Url("127.0.0.1", "sslmode=disable")
          : Url(kCertificateHost, "hostaddr=127.0.0.1&sslrootcert=" +
                                      certificates.rootCertificate.string());
  const std::string user = std::string("postgresql://") + kUser;
  return user + ":" + password + url.substr(user.size());
}

void PostgresServer::WritePasswordFile(const std::filesystem::path& file,
                                       const std::string& password) const {
  std::ofstream(file, std::ios::trunc)
      << "*:" << port << ":" << kDatabase << ":" << kUser << ":" << password << "\n";
  std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::owner_write);
}

bool PostgresServer::MakeCluster(std::string& problem) {
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "password") << kPassword << "\n";
  Identity identity = ServerIdentity();
  GiveTo(folder, identity);
  // No fsync: the cluster lives as long as the test.
  pid_t initdb = LaunchAs({(bin / "initdb").string(), "-D", (folder / "data").string(), "-U", kUser,
                           "--pwfile=" + (folder / "password").string(), "--auth=scram-sha-256",
                           "--no-locale", "-E", "UTF8", "--no-sync", "--no-instructions"},
                          folder / "initdb.log", identity);
  if (initdb < 0 || WaitFor(initdb) != 0) {
    problem = "initdb failed: " + LogTail(folder / "initdb.log");
    return false;
  }
  return tls == ServerTls::kNone || RequireTls(problem);
}

// The server's key is the server's own (PostgreSQL refuses a key others may read), and
// hostssl is the one way in: a client that asks no TLS is refused by the server itself.
bool PostgresServer::RequireTls(std::string& problem) {
  if (!MakeTestCertificates(folder / "tls", kCertificateHost, tls == ServerTls::kExpired,
                            certificates, problem)) {
    return false;
  }
  GiveTo(folder / "tls", ServerIdentity());
  std::ofstream(folder / "data" / "pg_hba.conf", std::ios::trunc)
      << "hostssl all all 127.0.0.1/32 scram-sha-256\n";
  return true;
}

// Unix sockets are off: a socket's path in a scratch folder easily passes the 107 bytes a
// socket's name may have, and the default socket folder lies outside the test's own.
bool PostgresServer::Launch(std::string& problem) {
  std::vector<std::string> commandLine = {
      (bin / "postgres").string(), "-D", (folder / "data").string(), "-p", std::to_string(port),
      "-c", "listen_addresses=127.0.0.1", "-c", "unix_socket_directories=", "-c", "fsync=off",
      "-c", "max_connections=40"};
  if (tls != ServerTls::kNone) {
    commandLine.insert(commandLine.end(),
                       {"-c", "ssl=on", "-c", "ssl_cert_file=" + certificates.certificate.string(),
                        "-c", "ssl_key_file=" + certificates.key.string()});
  }
  pid = LaunchAs(commandLine, folder / "server.log", ServerIdentity());
  if (pid > 0) return WaitReady(problem);
  problem = "cannot start postgres";
  return false;
}

// Ready when the server's own postmaster.pid says so: a test's other server on the same port
// would answer a ping for it.
bool PostgresServer::WaitReady(std::string& problem) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      problem = "postgres ended: " + LogTail(folder / "server.log");
      return false;
    }
    std::ifstream in(folder / "data" / "postmaster.pid");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (lines.size() >= 8 && lines[0] == std::to_string(pid) && lines[7].rfind("ready", 0) == 0) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  problem = "postgres did not accept connections within 60 s";
  Stop();
  return false;
}

bool PostgresServer::Start(std::string& problem) {
  if (pid > 0) return true;
  if (!made && !MakeCluster(problem)) return false;
  // The port stays the server's once it has one: the connection strings name it.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (!made) port = FreePort();
    if (Launch(problem)) break;
    if (made) return false;
  }
  if (pid < 0) return false;
  if (made) return true;
  auto created = RunProcess({(bin / "createdb").string(), "-h", "127.0.0.1", "-p",
                             std::to_string(port), "-U", kUser, kDatabase},
                            {{}, {{"PGPASSWORD", kPassword}}});
  made = created.exitCode == 0;
  if (!made) problem = "createdb failed: " + created.err;
  return made;
}

void PostgresServer::Stop() {
  if (pid <= 0) return;
  kill(pid, SIGINT);
  WaitFor(pid);
  pid = -1;
}

bool PostgresServer::Sql(const std::string& statement, std::string& rows,
                         std::string& problem) const {
  auto result = RunProcess(
      {(bin / "psql").string(), "-X", "-A", "-t", "-q", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1",
       "-p", std::to_string(port), "-U", kUser, "-d", kDatabase, "-c", statement},
      {{}, {{"PGPASSWORD", kPassword}}});
  rows = result.out;
  problem = result.err;
  return result.exitCode == 0;
}

}  // namespace testsupport
