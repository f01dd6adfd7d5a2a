#include "file_system.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scratch_names.h"
#include "text_format.h"

namespace {

void (*g_cleanup)() = nullptr;


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
  HoldScratchName(pattern);
  *name = pattern;
  return stream;
}

bool LinkUnnamed(FILE* stream, const std::string& link) {
  const std::string self = "/proc/self/fd/" + std::to_string(fileno(stream));
  return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, link.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

void OnSignal(int sig) {
  RemoveHeldScratchNames();
  if (g_cleanup != nullptr) g_cleanup();
  g_cleanup = nullptr;
  signal(sig, SIG_DFL);
  raise(sig);
}

FileKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::Regular;
  if (S_ISDIR(mode)) return FileKind::Folder;
  if (S_ISFIFO(mode)) return FileKind::Fifo;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::Device;
  if (S_ISSOCK(mode)) return FileKind::Socket;
  return FileKind::Other;
}

// A rebuilt file is the old file with new content: it keeps the old permission bits.
void KeepPermissions(FILE* stream, const std::string& target) {
  struct stat old;
  if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    fchmod(fileno(stream), old.st_mode & 07777);
  }
}

// After a power cut the new name must lead to the whole image, so the data is on the disk
// before the rename, and the folder's entry after it.
bool SyncData(FILE* stream) { return std::fflush(stream) == 0 && fsync(fileno(stream)) == 0; }

void SyncFolder(const std::string& target) {
  const int fd = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  fsync(fd);  // file systems that cannot sync a folder keep their entries by other means
  close(fd);
}

// An unnamed file gets a hidden name first: rename is the one step that replaces target.
bool NameUnnamed(FILE* stream, const std::string& target, std::string* linked) {
  std::string pattern = ScratchPattern(target);
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return false;
  close(fd);
  unlink(pattern.c_str());
  HoldScratchName(pattern);
  if (!LinkUnnamed(stream, pattern)) return ForgetScratchName(pattern), false;
  *linked = pattern;
  return true;
}

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.exists = true;
  id.kind = KindOf(st.st_mode);
  id.regular = id.kind == FileKind::Regular;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.file = static_cast<uint64_t>(st.st_ino);
  return id;
}

}  // namespace

std::string PathFrom(const std::string& folder, const std::string& path) {
  if (folder.empty() || folder == "." || path.empty() || path[0] == '/') return path;
  return folder + "/" + path;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string ExecutableDirectory() {
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return "";
  const std::string executable(buffer, static_cast<size_t>(length));
  const size_t slash = executable.rfind('/');
  return slash == std::string::npos ? "" : executable.substr(0, slash);
}

FileIdentity IdentifyFile(const char* path) {
  struct stat st;
  if (path == nullptr || stat(path, &st) != 0) return FileIdentity{};
  return IdentityOf(st);
}

FileIdentity IdentifyStream(FILE* stream) {
  struct stat st;
  if (stream == nullptr || fstat(fileno(stream), &st) != 0) return FileIdentity{};
  return IdentityOf(st);
}

FileIdentity IdentifyDescriptor(int fd) {
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return FileIdentity{};
  return IdentityOf(st);
}

FileIdentity IdentifyInput(const char* path) { return IdentifyFile(path); }

std::string LinkTarget(const std::string& path) {
  std::string current = path;
  // As many steps as the system itself follows before it gives up on a loop.
  for (int step = 0; step < 40; ++step) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string next(4096, '\0');
    const ssize_t n = readlink(current.c_str(), next.data(), next.size());
    if (n <= 0 || static_cast<size_t>(n) >= next.size()) return current;
    next.resize(static_cast<size_t>(n));
    current = next[0] == '/' ? next : FolderOf(current) + "/" + next;
  }
  return current;
}

FILE* OpenRegularFile(const char* path, FileKind* kind) {
  *kind = FileKind::Missing;
  // Not blocking: opening a FIFO for reading would wait for a writer.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0) return close(fd), nullptr;
  *kind = KindOf(st.st_mode);
  if (*kind != FileKind::Regular) return close(fd), nullptr;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* stream = fdopen(fd, "rb");
  if (stream == nullptr) close(fd);
  return stream;
}

FILE* CreateScratchBeside(const std::string& target, std::string* name, std::string* reason) {
  name->clear();
  FILE* stream = Unnamed(target);
  if (stream == nullptr) stream = Named(target, name);
  if (stream == nullptr) *reason = LastSystemError();
  return stream;
}

bool CommitScratch(FILE* stream, const std::string& name, const std::string& target,
                   std::string* reason) {
  std::string linked = name;
  KeepPermissions(stream, target);
  bool ok = SyncData(stream) && (!linked.empty() || NameUnnamed(stream, target, &linked));
  if (!ok) *reason = LastSystemError();
  if (std::fclose(stream) != 0 && ok) *reason = LastSystemError(), ok = false;
  if (ok && rename(linked.c_str(), target.c_str()) == 0) {
    ForgetScratchName(linked);
    SyncFolder(target);
    return true;
  }
  if (ok) *reason = LastSystemError();
  if (!linked.empty()) {
    unlink(linked.c_str());
    ForgetScratchName(linked);
  }
  return false;
}

// A hard link is made only where no name is: the one step that cannot replace a file.
bool RenameNoReplace(const std::string& from, const std::string& to, std::string* reason) {
  if (link(from.c_str(), to.c_str()) != 0) return *reason = LastSystemError(), false;
  unlink(from.c_str());
  SyncFolder(to);
  return true;
}

bool RenameOver(const std::string& from, const std::string& to, std::string* reason) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return *reason = LastSystemError(), false;
  return true;
}

void DiscardScratch(FILE* stream, const std::string& name) {
  if (stream != nullptr) std::fclose(stream);
  if (!name.empty()) {
    unlink(name.c_str());
    ForgetScratchName(name);
  }
}

bool ReserveFileSpace(FILE* stream, int64_t size) {
#ifdef __linux__
  // fallocate, not posix_fallocate: where the file system cannot reserve, the latter writes a
  // byte into every block instead, which is no cheaper than the caller's own writes.
  if (std::fflush(stream) != 0) return false;
  return size <= 0 || fallocate(fileno(stream), 0, 0, static_cast<off_t>(size)) == 0;
#else
  (void)stream;
  (void)size;
  return false;
#endif
}

void StartWriteBack(FILE* stream, int64_t from, int64_t count) {
  if (std::fflush(stream) != 0 || count <= 0) return;
#ifdef __linux__
  sync_file_range(fileno(stream), static_cast<off_t>(from), static_cast<off_t>(count), SYNC_FILE_RANGE_WRITE);
#else
  (void)from;
#endif
}

bool HoldText(HeldText* held) {
  held->stream = open_memstream(&held->buffer, &held->size);
  return held->stream != nullptr;
}

std::string ReleaseHeldText(HeldText* held) {
  if (held->stream == nullptr) return {};
  std::fclose(held->stream);
  std::string text(held->buffer != nullptr ? held->buffer : "", held->size);
  std::free(held->buffer);
  *held = HeldText{};
  return text;
}

std::string LastSystemError() { return std::strerror(errno); }

void SetProcessVariable(const char* name, const char* value) { setenv(name, value, 1); }
void RemoveProcessVariable(const char* name) { unsetenv(name); }

void OnTermination(void (*cleanup)()) {
  if (cleanup != nullptr) g_cleanup = cleanup;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored at start was ignored on purpose (nohup, a shell's background job): a
    // compile started that way must run on through it.
    struct sigaction old = {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(sig, &action, nullptr);
  }
}

void IgnoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

bool FileNamesFoldCase() { return false; }

bool TextReadsStopAtCtrlZ() { return false; }

void OpenMissingStandardStreams() {
  // In order: open() takes the lowest free number, which is the stream being mended.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

std::string HintPath(const std::string& path) { return PosixShellWord(path); }
