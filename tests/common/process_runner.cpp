#include "process_runner.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace testsupport {

namespace {

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;

  void Redirect(int from, int to) { posix_spawn_file_actions_adddup2(&actions, from, to); }
  void Close(int fd) { posix_spawn_file_actions_addclose(&actions, fd); }
  void Open(int fd, const char* path, int flags) {
    posix_spawn_file_actions_addopen(&actions, fd, path, flags, 0);
  }
  void ChangeFolder(const std::filesystem::path& folder) {
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  }
  const posix_spawn_file_actions_t* Get() const { return &actions; }

 private:
  posix_spawn_file_actions_t actions;
};

std::vector<std::string> ChildEnvironment(const Environment& additions,
                                          const std::filesystem::path& folder) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string(*entry).rfind("QS71", 0) != 0) variables.emplace_back(*entry);
  }
  bool stateNamed = false;
  for (const auto& [name, value] : additions) {
    variables.push_back(name + "=" + value);
    stateNamed = stateNamed || name == "XDG_STATE_HOME";
  }
  // qs71prog's production keeps its trace in the user's state folder: a test that names none
  // gets one in its scratch folder (QS71_TEST_STATE_HOME, set by test_scratch), else one in the folder the program
  // runs in; never the user's own.
  if (!stateNamed) {
    const char* chosen = std::getenv("QS71_TEST_STATE_HOME");
    const std::filesystem::path here = folder.empty() ? std::filesystem::current_path() : folder;
    variables.push_back("XDG_STATE_HOME=" + (chosen != nullptr && *chosen != '\0'
                                                 ? std::string(chosen)
                                                 : (here / "qs71-test-state").string()));
  }
  return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// The child's pid, or -1 with the reason in result.
pid_t Spawn(const std::vector<std::string>& commandLine, const ProcessOptions& options,
            SpawnActions& actions, ProcessResult* result,
            const posix_spawnattr_t* attributes = nullptr) {
  if (!options.folder.empty()) actions.ChangeFolder(options.folder);
  actions.Open(STDIN_FILENO, "/dev/null", O_RDONLY);
  std::vector<std::string> argv = commandLine;
  std::vector<std::string> envp = ChildEnvironment(options.environment, options.folder);
  const std::vector<char*> argvPointers = Pointers(argv);
  const std::vector<char*> envpPointers = Pointers(envp);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argv[0].c_str(), actions.Get(), attributes,
                                 argvPointers.data(), envpPointers.data());
  if (error == 0) return pid;
  result->exitCode = 127;
  result->err = "cannot run " + argv[0] + ": " + std::strerror(error) + "\n";
  return -1;
}

// With WNOHANG, false while the process still runs.
bool Wait(pid_t pid, ProcessResult* result, int flags = 0) {
  int status = 0;
  pid_t reaped = 0;
  while ((reaped = waitpid(pid, &status, flags)) < 0) {
    if (errno != EINTR) return true;
  }
  if (reaped == 0) return false;
  result->signaled = WIFSIGNALED(status);
  result->exitCode = result->signaled ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  return true;
}

std::string ReadFromStart(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[4096];
  for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text.append(buffer, count);
  }
  return text;
}

// Files, not pipes: the program sees a file, as a user's redirection gives it, and neither
// stream can fill up and stop the program while the other is read.
ProcessResult RunIntoFiles(const std::vector<std::string>& commandLine,
                           const ProcessOptions& options) {
  ProcessResult result;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  if (out != nullptr && err != nullptr) {
    SpawnActions actions;
    actions.Redirect(fileno(out), STDOUT_FILENO);
    actions.Redirect(fileno(err), STDERR_FILENO);
    actions.Close(fileno(out));
    actions.Close(fileno(err));
    const pid_t pid = Spawn(commandLine, options, actions, &result);
    if (pid >= 0) {
      Wait(pid, &result);
      result.out = ReadFromStart(out);
      result.err = ReadFromStart(err);
    }
  }
  for (std::FILE* file : {out, err}) {
    if (file != nullptr) std::fclose(file);
  }
  return result;
}

// Read while the program runs: a full terminal would stop it. The end of the stream shows as
// EIO once the program has exited and closed its side.
std::string DrainTerminal(int master) {
  std::string text;
  char buffer[4096];
  ssize_t count;
  while ((count = read(master, buffer, sizeof buffer)) > 0 || (count < 0 && errno == EINTR)) {
    if (count > 0) text.append(buffer, static_cast<size_t>(count));
  }
  return text;
}

ProcessResult RunOnTerminal(const std::vector<std::string>& commandLine,
                            const ProcessOptions& options) {
  ProcessResult result;
  int master = -1, slave = -1;
  winsize size{};
  size.ws_row = 40;
  size.ws_col = static_cast<unsigned short>(options.terminalColumns);
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return result;
  SpawnActions actions;
  actions.Redirect(slave, STDOUT_FILENO);
  actions.Redirect(slave, STDERR_FILENO);
  actions.Close(slave);
  actions.Close(master);
  const pid_t pid = Spawn(commandLine, options, actions, &result);
  close(slave);
  if (pid >= 0) result.out = DrainTerminal(master);
  close(master);
  if (pid >= 0) Wait(pid, &result);
  return result;
}

// Ctrl-C as a terminal has it: a test runner may have it blocked or ignored.
class TerminalSignals {
 public:
  TerminalSignals() {
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~TerminalSignals() { posix_spawnattr_destroy(&attributes); }
  TerminalSignals(const TerminalSignals&) = delete;
  TerminalSignals& operator=(const TerminalSignals&) = delete;
  const posix_spawnattr_t* Get() const { return &attributes; }

 private:
  posix_spawnattr_t attributes;
};

}  // namespace

LiveProcess::LiveProcess(const std::vector<std::string>& commandLine,
                         const ProcessOptions& options) {
  int fds[2];
  if (pipe(fds) != 0) return;
  SpawnActions actions;
  actions.Redirect(fds[1], STDOUT_FILENO);
  actions.Open(STDERR_FILENO, "/dev/null", O_WRONLY);
  actions.Close(fds[0]);
  actions.Close(fds[1]);
  const TerminalSignals signals;
  ProcessResult ignored;
  pid = Spawn(commandLine, options, actions, &ignored, signals.Get());
  close(fds[1]);
  fd = fds[0];
}

LiveProcess::~LiveProcess() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    Wait();
  }
  if (fd >= 0) close(fd);
}

bool LiveProcess::ReadLine(std::string& line) {
  for (;;) {
    const size_t end = pending.find('\n');
    if (end != std::string::npos) {
      line = pending.substr(0, end);
      pending.erase(0, end + 1);
      return true;
    }
    char buffer[4096];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    pending.append(buffer, static_cast<size_t>(count));
  }
}

void LiveProcess::Send(int signal) const {
  if (pid > 0) kill(pid, signal);
}

int LiveProcess::Wait() {
  ProcessResult result;
  if (pid > 0) testsupport::Wait(pid, &result);
  pid = -1;
  return result.exitCode;
}

bool LiveProcess::Ended(int& exitCode) {
  if (pid <= 0) return true;
  ProcessResult result;
  if (!testsupport::Wait(pid, &result, WNOHANG)) return false;
  pid = -1;
  exitCode = result.exitCode;
  return true;
}

ProcessResult RunProcess(const std::vector<std::string>& commandLine,
                         const ProcessOptions& options) {
  return options.terminalColumns > 0 ? RunOnTerminal(commandLine, options)
                                     : RunIntoFiles(commandLine, options);
}

}  // namespace testsupport
