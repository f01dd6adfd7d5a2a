// qs71_test_postgres [--tls | --expired-tls] FOLDER: the tests' own PostgreSQL server
// (PostgresServer), for the checks that shell scripts make (the Windows stage's station under
// Wine). Once the server accepts connections it prints its connection string and, with TLS,
// the CA file of its certificate on a second line. Then it reads commands, a line each:
// "stop" stops the server and "start" starts it again on the same data and port, each
// answered by "stopped" or "started" (or "failed: ..."). The server stops when standard input
// ends or the program is told SIGTERM or SIGINT.

#include <signal.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "postgres_server.h"

namespace {

// Only interrupts the wait for standard input; the server is stopped after it.
void Interrupt(int) {}

void StopOnSignals() {
  struct sigaction action {};
  action.sa_handler = Interrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

void Serve(testsupport::PostgresServer& server) {
  std::string problem;
  for (std::string line; std::getline(std::cin, line);) {
    if (line == "stop") {
      server.Stop();
      std::cout << "stopped" << std::endl;
    } else if (line == "start") {
      std::cout << (server.Start(problem) ? "started" : "failed: " + problem) << std::endl;
    } else {
      std::cout << "failed: no command " << line << std::endl;
    }
  }
  server.Stop();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string option = argc == 3 ? argv[1] : "";
  const bool tls = option == "--tls", expired = option == "--expired-tls";
  if (argc < 2 || argc > 3 || (argc == 3 && !tls && !expired)) {
    std::fputs("usage: qs71_test_postgres [--tls | --expired-tls] FOLDER\n", stderr);
    return 2;
  }
  StopOnSignals();
  testsupport::PostgresServer server(argv[argc - 1], tls       ? testsupport::ServerTls::kRequired
                                                     : expired ? testsupport::ServerTls::kExpired
                                                               : testsupport::ServerTls::kNone);
  std::string problem;
  if (!server.Start(problem)) {
    std::fprintf(stderr, "qs71_test_postgres: %s\n", problem.c_str());
    return 1;
  }
  std::cout << server.Connection() << std::endl;
  if (tls || expired) std::cout << server.RootCertificate().string() << std::endl;
  Serve(server);
  return 0;
}
