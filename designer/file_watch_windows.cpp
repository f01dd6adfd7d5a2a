#include "file_watch.h"

#include <windows.h>

#include <map>
#include <set>

#include "ascii_case.h"
#include "file_system.h"

namespace {

// Everything that can leave a file with other bytes under its name.
constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

// One folder's pending ReadDirectoryChangesW, started again after each completion.
struct FolderWatch {
  HANDLE folder = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped = {};
  alignas(DWORD) char buffer[16384];
  std::set<std::string> names;  // lower case: Windows file names ignore ASCII case
};

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Utf8(const wchar_t* text, DWORD chars) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(chars), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(chars), out.data(), n, nullptr, nullptr);
  return out;
}

bool StartRead(FolderWatch& w) {
  ResetEvent(w.overlapped.hEvent);
  return ReadDirectoryChangesW(w.folder, w.buffer, sizeof w.buffer, FALSE, kChanges, nullptr, &w.overlapped,
                               nullptr) != 0;
}

// True when a completed read names a watched file; a buffer too small for the events (0 bytes)
// counts as one, since the events are lost.
bool Relevant(FolderWatch& w) {
  DWORD bytes = 0;
  if (!GetOverlappedResult(w.folder, &w.overlapped, &bytes, FALSE) || bytes == 0) return true;
  bool relevant = false;
  for (DWORD at = 0;;) {
    const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(w.buffer + at);
    const std::string name = AsciiLowerCopy(Utf8(info->FileName, info->FileNameLength / sizeof(wchar_t)));
    relevant = relevant || w.names.count(name) != 0;
    if (info->NextEntryOffset == 0) break;
    at += info->NextEntryOffset;
  }
  return relevant;
}

}  // namespace

struct FileWatch::Folders {
  std::map<std::string, std::unique_ptr<FolderWatch>> watched;  // by folder

  ~Folders() {
    for (auto& entry : watched) {
      CancelIo(entry.second->folder);
      CloseHandle(entry.second->folder);
      CloseHandle(entry.second->overlapped.hEvent);
    }
  }
};

FileWatch::FileWatch() : folders_(std::make_unique<Folders>()) {}

FileWatch::~FileWatch() = default;

bool FileWatch::Watch(const std::vector<std::string>& files, std::string* reason) {
  for (auto& entry : folders_->watched) entry.second->names.clear();
  bool any = false;
  for (const std::string& file : files) {
    const std::string folder = FolderOf(file);
    auto it = folders_->watched.find(folder);
    if (it == folders_->watched.end()) {
      if (folders_->watched.size() == MAXIMUM_WAIT_OBJECTS) return *reason = "too many folders to watch", false;
      auto w = std::make_unique<FolderWatch>();
      w->folder = CreateFileW(WidePath(folder).c_str(), FILE_LIST_DIRECTORY,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
      // A folder the script names by mistake: the script's own folder sees it mended.
      const DWORD error = w->folder == INVALID_HANDLE_VALUE ? GetLastError() : 0;
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;
      if (w->folder == INVALID_HANDLE_VALUE) return *reason = folder + ": " + LastSystemError(), false;
      w->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      it = folders_->watched.emplace(folder, std::move(w)).first;
      if (it->second->overlapped.hEvent == nullptr || !StartRead(*it->second)) {
        return *reason = folder + ": " + LastSystemError(), false;
      }
    }
    it->second->names.insert(AsciiLowerCopy(BaseName(file)));
    any = true;
  }
  return any || (*reason = "no folder of the inputs exists", false);
}

bool FileWatch::WaitForChange(int settleMs, std::string* reason) {
  std::vector<HANDLE> events;
  std::vector<FolderWatch*> order;
  for (auto& entry : folders_->watched) {
    events.push_back(entry.second->overlapped.hEvent);
    order.push_back(entry.second.get());
  }
  if (events.empty()) return *reason = "nothing to watch", false;
  bool changed = false;
  for (;;) {
    const DWORD n = WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                           changed ? static_cast<DWORD>(settleMs) : INFINITE);
    if (n == WAIT_TIMEOUT) return true;  // quiet for settleMs after a change
    if (n >= WAIT_OBJECT_0 + events.size()) return *reason = LastSystemError(), false;
    FolderWatch& w = *order[n - WAIT_OBJECT_0];
    changed = Relevant(w) || changed;
    if (!StartRead(w)) return *reason = LastSystemError(), false;
  }
}
