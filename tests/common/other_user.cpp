#include "other_user.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "process_runner.h"

namespace testsupport {

namespace {

// The first folder on the way to path that others cannot search, empty when there is none.
std::filesystem::path ClosedFolder(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::path whole = std::filesystem::absolute(path, error);
  std::filesystem::path folder;
  for (const std::filesystem::path& part : whole.parent_path()) {
    folder /= part;
    struct stat facts {};
    if (stat(folder.c_str(), &facts) != 0 || (facts.st_mode & S_IXOTH) == 0) return folder;
  }
  return {};
}

}  // namespace

std::vector<std::string> AsNobody(const std::vector<std::string>& commandLine) {
  std::vector<std::string> line = {"setpriv", "--reuid=" + std::to_string(kNobody),
                                   "--regid=" + std::to_string(kNobody), "--clear-groups", "--"};
  line.insert(line.end(), commandLine.begin(), commandLine.end());
  return line;
}

std::string WhyFilesCannotChangeHands() {
  if (geteuid() == 0) return "";
  return "this test runs as uid " + std::to_string(geteuid()) +
         ", and only root can make files root's or another user's: run it as root";
}

std::string WhyNobodyCannotRun(const std::vector<std::filesystem::path>& reached) {
  if (std::string why = WhyFilesCannotChangeHands(); !why.empty()) return why;
  const ProcessResult id = RunProcess(AsNobody({"id", "-u"}));
  if (id.exitCode != 0 || id.out != std::to_string(kNobody) + "\n") {
    return "setpriv cannot run a program as uid " + std::to_string(kNobody) + " here (exit " +
           std::to_string(id.exitCode) + "): " + id.err;
  }
  for (const std::filesystem::path& path : reached) {
    if (const std::filesystem::path closed = ClosedFolder(path); !closed.empty()) {
      return "uid " + std::to_string(kNobody) + " cannot reach " + path.string() + ": " +
             closed.string() + " cannot be searched by others (chmod o+x it)";
    }
  }
  return "";
}

bool EveryTestMustRun() {
  const char* ci = std::getenv("QS71_CI");
  return ci != nullptr && *ci != '\0';
}

bool GiveTo(const std::filesystem::path& path, uid_t uid, gid_t gid) {
  if (lchown(path.c_str(), uid, gid) != 0) return false;
  std::error_code error;
  if (!std::filesystem::is_directory(std::filesystem::symlink_status(path, error))) return true;
  for (auto it = std::filesystem::recursive_directory_iterator(path, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (lchown(it->path().c_str(), uid, gid) != 0) return false;
  }
  return !error;
}

}  // namespace testsupport
