#pragma once
// Running the real programs from a test, the way a user runs them from a shell: in a folder of
// their own, with nothing on standard input, their two output streams kept apart, and the exit
// status a shell would show.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Environment = std::vector<std::pair<std::string, std::string>>;

struct ProcessOptions {
  std::filesystem::path folder{};  // where the program runs; empty for the test's own folder
  // Added to the test's environment, from which every QS71 setting is taken: a developer's
  // shell may hold one that would change what the program does.
  Environment environment{};
  // When above 0, standard output and error share one pseudo-terminal this many columns wide,
  // and everything it received is in out.
  int terminalColumns = 0;
};

struct ProcessResult {
  // As a shell shows it: the exit status (qs71gen's -3 is 253), 128 + the signal for a program
  // that a signal ended, 127 for one that could not be started (err says why).
  int exitCode = -1;
  bool signaled = false;  // ended by a signal: a crash
  std::string out;
  std::string err;
};

// commandLine holds the program, then its arguments. A program named without a '/' is looked
// up on PATH; one with a relative path is found from options.folder.
ProcessResult RunProcess(const std::vector<std::string>& commandLine,
                         const ProcessOptions& options = {});

// A program left running, for tests that act while it runs: its standard output is read line
// by line as it comes (standard error is dropped) and signals can be sent to it. It starts with
// SIGINT and SIGTERM at their defaults and unblocked, as a terminal gives them, whatever the
// test runner inherited. A program still running when the object goes is killed and reaped.
class LiveProcess {
 public:
  LiveProcess(const std::vector<std::string>& commandLine, const ProcessOptions& options = {});
  ~LiveProcess();
  LiveProcess(const LiveProcess&) = delete;
  LiveProcess& operator=(const LiveProcess&) = delete;

  bool Started() const { return pid > 0; }
  pid_t Pid() const { return pid; }
  // The next line of standard output; false once the output has ended.
  bool ReadLine(std::string& line);
  void Send(int signal) const;
  // The exit status as RunProcess gives it.
  int Wait();
  // Without waiting: whether the program has ended, and then its exit status as Wait gives it
  // (once; later calls say it ended and leave exitCode alone).
  bool Ended(int& exitCode);

 private:
  pid_t pid = -1;
  int fd = -1;
  std::string pending;
};

}  // namespace testsupport
