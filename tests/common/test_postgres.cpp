// qs71_test_postgres FOLDER: the tests' own PostgreSQL server (PostgresServer), for the checks
// that shell scripts make (the Windows stage's station under Wine). It prints the server's
// connection string once the server accepts connections, and holds it until its standard input
// ends or it is told SIGTERM or SIGINT; the server stops with it.

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: qs71_test_postgres FOLDER\n", stderr);
    return 2;
  }
  StopOnSignals();
  testsupport::PostgresServer server(argv[1]);
  std::string problem;
  if (!server.Start(problem)) {
    std::fprintf(stderr, "qs71_test_postgres: %s\n", problem.c_str());
    return 1;
  }
  std::cout << server.Connection() << std::endl;
  for (std::string line; std::getline(std::cin, line);) {
  }
  server.Stop();
  return 0;
}
