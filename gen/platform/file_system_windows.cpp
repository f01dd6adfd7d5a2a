#include "platform/file_system.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

void (*g_cleanup)() = nullptr;

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

BOOL WINAPI OnConsoleEvent(DWORD) {
  if (g_cleanup != nullptr) g_cleanup();
  g_cleanup = nullptr;
  return FALSE;  // the default handler then ends the process
}

}  // namespace

FileIdentity IdentifyFile(const char* path) {
  FileIdentity id;
  if (path == nullptr) return id;
  // Opened for no access at all: only the identity is read, and a file in use still answers.
  HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return id;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(h, &info)) {
    id.exists = true;
    id.regular = GetFileType(h) == FILE_TYPE_DISK && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    id.volume = info.dwVolumeSerialNumber;
    id.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  CloseHandle(h);
  return id;
}

FILE* CreateScratchBeside(const std::string& target, std::string* name) {
  // Windows cannot rename over a file that has no name, so the scratch file is named and
  // hidden beside the output; the termination handler and every exit path remove it.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = FolderOf(target) + "\\~" +
                                  std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(attempt) + ".qs71gen";
    // Shared for deletion, so that the termination handler can remove it while it is open.
    HANDLE h = CreateFileA(candidate.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    FILE* stream = fd < 0 ? nullptr : _fdopen(fd, "w+b");
    if (stream == nullptr) {
      if (fd < 0) CloseHandle(h);
      else _close(fd);
      DeleteFileA(candidate.c_str());
      return nullptr;
    }
    *name = candidate;
    return stream;
  }
  return nullptr;
}

bool CommitScratch(FILE* stream, const std::string& name, const std::string& target) {
  const bool closed = std::fclose(stream) == 0;
  SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (closed && MoveFileExA(name.c_str(), target.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileA(name.c_str());
  return false;
}

void DiscardScratch(FILE* stream, const std::string& name) {
  if (stream != nullptr) std::fclose(stream);
  if (!name.empty()) DeleteFileA(name.c_str());
}

void OnTermination(void (*cleanup)()) {
  g_cleanup = cleanup;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
