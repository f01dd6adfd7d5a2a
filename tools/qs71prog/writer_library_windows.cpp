#include <windows.h>

#include "writer_library.h"

namespace qs71prog {

namespace {

// GetProcAddress hands every export out as FARPROC; void(*)(void) is the one function
// pointer type the compiler lets stand between it and the real type.
template <typename Function>
Function Resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

std::string LastErrorText(const std::string& file) {
  return file + ": cannot be loaded (Windows error " + std::to_string(GetLastError()) + ")";
}

}  // namespace

WriterLibrary::~WriterLibrary() {
  if (handle != nullptr) FreeLibrary(static_cast<HMODULE>(handle));
}

bool WriterLibrary::Load(const std::string& file, std::string& error) {
  const HMODULE loaded = LoadLibraryA(file.c_str());
  if (loaded == nullptr) {
    error = LastErrorText(file);
    return false;
  }
  const auto function = Resolve<Qs71UsbWriterFunction>(loaded, "Qs71UsbWriter");
  if (function == nullptr) {
    error = file + " has no Qs71UsbWriter";
    FreeLibrary(loaded);
    return false;
  }
  if (handle != nullptr) FreeLibrary(static_cast<HMODULE>(handle));
  handle = loaded;
  writer = function;
  emulated = GetProcAddress(loaded, "Qs71EmuReset") != nullptr;
  path = file;
  return true;
}

std::string ExecutableDirectory() {
  char buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return "";
  const std::string executable(buffer, length);
  const size_t separator = executable.find_last_of("\\/");
  return separator == std::string::npos ? "" : executable.substr(0, separator);
}

}  // namespace qs71prog
