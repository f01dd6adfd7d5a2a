#include "file_system.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scratch_names.h"
#include "text_format.h"

namespace {

void (*g_cleanup)() = nullptr;


FileKind KindOf(HANDLE h, const BY_HANDLE_FILE_INFORMATION& info) {
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Folder;
  switch (GetFileType(h)) {
    case FILE_TYPE_DISK: return FileKind::Regular;
    case FILE_TYPE_PIPE: return FileKind::Fifo;
    case FILE_TYPE_CHAR: return FileKind::Device;
    default: return FileKind::Other;
  }
}

BOOL WINAPI OnConsoleEvent(DWORD) {
  RemoveHeldScratchNames();
  if (g_cleanup != nullptr) g_cleanup();
  g_cleanup = nullptr;
  return FALSE;  // the default handler then ends the process
}

}  // namespace

std::string PathFrom(const std::string& folder, const std::string& path) {
  const bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':'));
  if (folder.empty() || folder == "." || path.empty() || absolute) return path;
  return folder + "\\" + path;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string ExecutableDirectory() {
  char buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return "";
  const std::string executable(buffer, length);
  const size_t separator = executable.find_last_of("\\/");
  return separator == std::string::npos ? "" : executable.substr(0, separator);
}

namespace {

// Opened for no access at all: only the identity is read, and a file in use still answers.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FileIdentity IdentityOf(HANDLE h) {
  FileIdentity id;
  if (h == INVALID_HANDLE_VALUE) return id;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(h, &info)) {
    id.exists = true;
    id.kind = KindOf(h, info);
    id.regular = id.kind == FileKind::Regular;
    id.volume = info.dwVolumeSerialNumber;
    id.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  CloseHandle(h);
  return id;
}

// Scripts are often saved as UTF-8, while names reach this program in the ANSI code page: a
// name a script gives that is no file in the code page is looked up as UTF-8 too (*wide). A name
// that is a file in the code page keeps that meaning, and outputs are only ever named in it.
FileIdentity InputIdentity(const char* path, bool* wide) {
  *wide = false;
  FileIdentity id = IdentifyFile(path);
  const DWORD error = GetLastError();
  if (id.exists || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_INVALID_NAME)) {
    return id;
  }
  const std::wstring name = WidePath(path);
  if (name.empty()) return id;
  id = IdentityOf(CreateFileW(name.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  *wide = id.exists;
  return id;
}

}  // namespace

FileIdentity IdentifyFile(const char* path) {
  if (path == nullptr) return FileIdentity{};
  return IdentityOf(CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

FileIdentity IdentifyDescriptor(int fd) {
  // A copy of the descriptor's handle, since IdentityOf closes the handle it is given.
  const HANDLE own = fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (own == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return FileIdentity{};
  }
  return IdentityOf(copy);
}

FileIdentity IdentifyStream(FILE* stream) {
  return stream == nullptr ? FileIdentity{} : IdentifyDescriptor(_fileno(stream));
}

FileIdentity IdentifyInput(const char* path) {
  bool wide = false;
  return path == nullptr ? FileIdentity{} : InputIdentity(path, &wide);
}

// Symbolic links on Windows need privileges few users have; a name is taken as the file.
std::string LinkTarget(const std::string& path) { return path; }

FILE* OpenRegularFile(const char* path, FileKind* kind) {
  bool wide = false;
  const FileIdentity id = InputIdentity(path, &wide);
  *kind = id.kind;
  if (!id.regular) return nullptr;
  // Opened by the name in the form that was identified, never the other.
  FILE* stream = wide ? _wfopen(WidePath(path).c_str(), L"rb") : std::fopen(path, "rb");
  if (stream == nullptr) *kind = FileKind::Missing;
  return stream;
}

FILE* CreateScratchBeside(const std::string& target, std::string* name, std::string* reason) {
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
      *reason = LastSystemError();
      return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    FILE* stream = fd < 0 ? nullptr : _fdopen(fd, "w+b");
    if (stream == nullptr) {
      if (fd < 0) CloseHandle(h);
      else _close(fd);
      *reason = "the scratch file cannot be opened as a stream";
      DeleteFileA(candidate.c_str());
      return nullptr;
    }
    HoldScratchName(candidate);
    *name = candidate;
    return stream;
  }
  *reason = "no free scratch name";
  return nullptr;
}

// The data reaches the disk before the move, and the move itself is written through, so that
// after a power cut the name leads to the whole image.
bool CommitScratch(FILE* stream, const std::string& name, const std::string& target,
                   std::string* reason) {
  bool ok = std::fflush(stream) == 0 &&
            FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) != 0;
  if (!ok) *reason = LastSystemError();
  if (std::fclose(stream) != 0 && ok) *reason = LastSystemError(), ok = false;
  SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (ok && MoveFileExA(name.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ForgetScratchName(name);
    return true;
  }
  if (ok) *reason = LastSystemError();
  DeleteFileA(name.c_str());
  ForgetScratchName(name);
  return false;
}

bool RenameOver(const std::string& from, const std::string& to, std::string* reason) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  *reason = LastSystemError();
  return false;
}

// Without MOVEFILE_REPLACE_EXISTING the move fails where the name is taken.
bool RenameNoReplace(const std::string& from, const std::string& to, std::string* reason) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  *reason = LastSystemError();
  return false;
}

void DiscardScratch(FILE* stream, const std::string& name) {
  if (stream != nullptr) std::fclose(stream);
  if (!name.empty()) {
    DeleteFileA(name.c_str());
    ForgetScratchName(name);
  }
}

void SetProcessVariable(const char* name, const char* value) { _putenv_s(name, value); }
// An empty value removes the variable on Windows.
void RemoveProcessVariable(const char* name) { _putenv_s(name, ""); }

// NTFS writes zeros into a file's new length up to where it is first written, so a reservation
// would cost as much as the caller's own writes of the bytes.
bool ReserveFileSpace(FILE*, int64_t) { return false; }

// Windows writes a file's cached pages behind the program on its own.
void StartWriteBack(FILE*, int64_t, int64_t) {}

// The C runtime has no memory stream, and a temporary file would land in the drive's root.
bool HoldText(HeldText*) { return false; }

std::string ReleaseHeldText(HeldText*) { return {}; }

std::string LastSystemError() {
  const DWORD code = GetLastError();
  if (code == 0) return std::strerror(errno);
  char text[512] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 code, 0, text, sizeof text, nullptr);
  std::string out(text, n);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) out.pop_back();
  return out;
}

std::wstring WidePath(const std::string& path) {
  const int length = static_cast<int>(path.size());
  for (const UINT page : {CP_UTF8, CP_ACP}) {
    const DWORD flags = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int n = MultiByteToWideChar(page, flags, path.data(), length, nullptr, 0);
    if (n <= 0) continue;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(page, flags, path.data(), length, wide.data(), n);
    return wide;
  }
  return std::wstring();
}

void OnTermination(void (*cleanup)()) {
  if (cleanup != nullptr) g_cleanup = cleanup;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

// Windows has no SIGPIPE: a write to a pipe whose reader went away fails by itself.
void IgnoreBrokenPipes() {}

// The C runtime of Windows keeps descriptors 0 to 2 for the standard streams even when the
// process has no console or handles for them, so no file opened later can take their place.
void OpenMissingStandardStreams() {}

bool FileNamesFoldCase() { return true; }

bool TextReadsStopAtCtrlZ() { return true; }

std::string HintPath(const std::string& path) { return CmdShellWord(path); }
