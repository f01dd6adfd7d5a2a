#include "prog_run.h"

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include "test_scratch.h"

extern char** environ;

namespace qs71prog::test {

namespace {

// The inherited environment without any QS71 setting, plus the test's own.
std::vector<std::string> ChildEnvironment(const Environment& extra) {
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string(*entry).rfind("QS71", 0) != 0) variables.emplace_back(*entry);
  }
  for (const auto& [name, value] : extra) variables.push_back(name + "=" + value);
  return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

pid_t Spawn(const std::vector<std::string>& arguments, const Environment& environment,
            const posix_spawn_file_actions_t* actions) {
  std::vector<std::string> argv = {QS71PROG_PATH};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> envp = ChildEnvironment(environment);
  auto argvPointers = Pointers(argv);
  auto envpPointers = Pointers(envp);
  pid_t pid = -1;
  if (posix_spawn(&pid, QS71PROG_PATH, actions, nullptr, argvPointers.data(),
                  envpPointers.data()) != 0) {
    return -1;
  }
  return pid;
}

int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ProgRun RunProg(const std::vector<std::string>& arguments, const Environment& environment) {
  const std::filesystem::path dir = std::filesystem::path(QS71_TEST_TMPDIR) / "runs";
  std::filesystem::create_directories(dir);
  const std::string stem =
      (dir / std::to_string(getpid())).string() + "_" + std::to_string(std::rand());
  const std::string outPath = stem + ".out", errPath = stem + ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  const pid_t pid = Spawn(arguments, environment, &actions);
  posix_spawn_file_actions_destroy(&actions);
  ProgRun run;
  if (pid < 0) return run;
  run.exit = WaitFor(pid);
  run.out = ReadFileText(outPath);
  run.err = ReadFileText(errPath);
  std::filesystem::remove(outPath);
  std::filesystem::remove(errPath);
  return run;
}

ProgRun RunProgOnTerminal(const std::vector<std::string>& arguments, const Environment& environment,
                          int columns) {
  ProgRun run;
  int master = -1, slave = -1;
  winsize size{};
  size.ws_row = 40;
  size.ws_col = static_cast<unsigned short>(columns);
  if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, slave, 1);
  posix_spawn_file_actions_adddup2(&actions, slave, 2);
  posix_spawn_file_actions_addclose(&actions, master);
  const pid_t pid = Spawn(arguments, environment, &actions);
  posix_spawn_file_actions_destroy(&actions);
  close(slave);
  // Read while the program runs: a full terminal would stop it. The end of the stream
  // shows as EIO once the program has exited and closed its side.
  char buffer[4096];
  ssize_t count;
  while ((count = read(master, buffer, sizeof buffer)) > 0 || (count < 0 && errno == EINTR)) {
    if (count > 0) run.out.append(buffer, static_cast<size_t>(count));
  }
  close(master);
  if (pid >= 0) run.exit = WaitFor(pid);
  return run;
}

std::filesystem::path TestDir(const std::string& name) {
  const std::filesystem::path dir = ScratchFolder(QS71_TEST_TMPDIR, name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

std::filesystem::path GeneratedImage(const std::filesystem::path& dir, const std::string& size) {
  const std::filesystem::path project = dir / "project";
  std::filesystem::create_directories(dir);
  std::filesystem::copy(QS71_EXAMPLES_DIR, project, std::filesystem::copy_options::recursive);
  if (!size.empty()) {
    std::string script = ReadFileText(project / "demo.qs");
    const std::string setting = "$FILESIZE = ";
    const size_t at = script.find(setting);
    if (at == std::string::npos) return {};
    const size_t value = at + setting.size();
    script.replace(value, script.find('h', value) + 1 - value, size);
    std::ofstream(project / "demo.qs", std::ios::binary | std::ios::trunc) << script;
  }
  const std::filesystem::path image = dir / "demo.bin";
  const std::string command = "cd '" + project.string() + "' && '" QS71GEN_PATH "' demo.qs '" +
                              image.string() + "' >/dev/null";
  if (std::system(command.c_str()) != 0) return {};
  return image;
}


std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

}  // namespace qs71prog::test
