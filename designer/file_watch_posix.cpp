#include "file_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "file_system.h"

namespace {

using NamesByWatch = std::map<int, std::set<std::string>>;  // watch descriptor -> file names in it

// Everything that can leave a file with other bytes under its name.
constexpr uint32_t kChanges = IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM |
                              IN_DELETE | IN_ATTRIB;

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads what is queued; true when an event concerns a watched name. -1 on a read error.
int DrainEvents(int fd, const NamesByWatch& watchedNames) {
  alignas(inotify_event) char buffer[16384];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n < 0) return errno == EINTR || errno == EAGAIN ? 0 : -1;
  int relevant = 0;
  for (ssize_t at = 0; at < n;) {
    const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    if (event->mask & IN_Q_OVERFLOW) relevant = 1;  // events were lost: assume ours among them
    const auto names = watchedNames.find(event->wd);
    if (event->len == 0 || names == watchedNames.end()) continue;
    if (names->second.count(event->name) != 0) relevant = 1;
  }
  return relevant;
}

// -1 on an error, 0 when nothing came within ms (-1: wait for ever), 1 when events are queued.
int WaitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    const int n = poll(&p, 1, ms);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

}  // namespace

struct FileWatch::Folders {
  int fd = -1;
  std::map<std::string, int> watched;  // folder -> watch descriptor
  NamesByWatch names;
};

FileWatch::FileWatch() : folders_(std::make_unique<Folders>()) {}

FileWatch::~FileWatch() {
  if (folders_->fd >= 0) close(folders_->fd);
}

bool FileWatch::Watch(const std::vector<std::string>& files, std::string* reason) {
  Folders& f = *folders_;
  if (f.fd < 0) f.fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (f.fd < 0) return *reason = LastSystemError(), false;
  for (auto& entry : f.names) entry.second.clear();
  bool any = false;
  for (const std::string& file : files) {
    const std::string folder = FolderOf(file);
    auto it = f.watched.find(folder);
    if (it == f.watched.end()) {
      const int wd = inotify_add_watch(f.fd, folder.c_str(), kChanges);
      // A folder the script names by mistake: the script's own folder sees it mended.
      if (wd < 0 && (errno == ENOENT || errno == ENOTDIR)) continue;
      if (wd < 0) return *reason = folder + ": " + LastSystemError(), false;
      it = f.watched.emplace(folder, wd).first;
    }
    f.names[it->second].insert(BaseName(file));
    any = true;
  }
  return any || (*reason = "no folder of the inputs exists", false);
}

bool FileWatch::WaitForChange(int settleMs, std::string* reason) {
  const Folders& f = *folders_;
  bool changed = false;
  for (;;) {
    const int ready = WaitReadable(f.fd, changed ? settleMs : -1);
    if (ready < 0) return *reason = LastSystemError(), false;
    if (ready == 0) return true;  // quiet for settleMs after a change
    const int relevant = DrainEvents(f.fd, f.names);
    if (relevant < 0) return *reason = LastSystemError(), false;
    changed = changed || relevant != 0;
  }
}
