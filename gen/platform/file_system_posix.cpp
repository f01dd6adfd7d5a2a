#include "platform/file_system.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

void (*g_cleanup)() = nullptr;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Hidden and unmistakable beside the output, so that a crash leaves no file that looks like an
// image to a user or a wildcard.
std::string ScratchPattern(const std::string& target) {
  const size_t slash = target.find_last_of('/');
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  return FolderOf(target) + "/." + base + ".qs71gen-XXXXXX";
}

FILE* Unnamed(const std::string& target) {
#if defined(O_TMPFILE)
  // Naming the file later goes through /proc; without it the named way is the only one.
  if (access("/proc/self/fd", X_OK) != 0) return nullptr;
  const int fd = open(FolderOf(target).c_str(), O_TMPFILE | O_RDWR, 0666);
  if (fd < 0) return nullptr;
  FILE* stream = fdopen(fd, "wb+");
  if (stream == nullptr) close(fd);
  return stream;
#else
  (void)target;
  return nullptr;
#endif
}

FILE* Named(const std::string& target, std::string* name) {
  std::string pattern = ScratchPattern(target);
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return nullptr;
  // mkstemp makes the file private; an image is an ordinary file like the one it replaces.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  FILE* stream = fdopen(fd, "wb+");
  if (stream == nullptr) {
    close(fd);
    unlink(pattern.c_str());
    return nullptr;
  }
  *name = pattern;
  return stream;
}

bool LinkUnnamed(FILE* stream, const std::string& link) {
  const std::string self = "/proc/self/fd/" + std::to_string(fileno(stream));
  return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, link.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

void OnSignal(int sig) {
  if (g_cleanup != nullptr) g_cleanup();
  g_cleanup = nullptr;
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

FileIdentity IdentifyFile(const char* path) {
  FileIdentity id;
  struct stat st;
  if (path == nullptr || stat(path, &st) != 0) return id;
  id.exists = true;
  id.regular = S_ISREG(st.st_mode);
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.file = static_cast<uint64_t>(st.st_ino);
  return id;
}

FILE* CreateScratchBeside(const std::string& target, std::string* name) {
  name->clear();
  FILE* stream = Unnamed(target);
  return stream != nullptr ? stream : Named(target, name);
}

bool CommitScratch(FILE* stream, const std::string& name, const std::string& target) {
  std::string linked = name;
  bool ok = true;
  if (linked.empty()) {
    // An unnamed file gets a hidden name first: rename is the one step that replaces target.
    std::string pattern = ScratchPattern(target);
    const int fd = mkstemp(pattern.data());
    ok = fd >= 0;
    if (ok) close(fd), unlink(pattern.c_str());
    ok = ok && LinkUnnamed(stream, pattern);
    linked = ok ? pattern : std::string();
  }
  ok = (std::fclose(stream) == 0) && ok;
  if (ok && rename(linked.c_str(), target.c_str()) == 0) return true;
  if (!linked.empty()) unlink(linked.c_str());
  return false;
}

void DiscardScratch(FILE* stream, const std::string& name) {
  if (stream != nullptr) std::fclose(stream);
  if (!name.empty()) unlink(name.c_str());
}

void OnTermination(void (*cleanup)()) {
  g_cleanup = cleanup;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}
