#include <windows.h>

#include "shared_library.h"

bool SharedLibrary::Open(const std::string& path, std::string& error) {
  Close();
  handle = LoadLibraryA(path.c_str());
  if (handle != nullptr) return true;
  const DWORD code = GetLastError();
  error = path + ": cannot be loaded (Windows error " + std::to_string(code) + ")";
  return false;
}

void SharedLibrary::Close() {
  if (handle != nullptr) FreeLibrary(static_cast<HMODULE>(handle));
  handle = nullptr;
}

// GetProcAddress hands every export out as FARPROC.
SharedLibrary::AnyFunction SharedLibrary::FindFunction(const char* name) const {
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<AnyFunction>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

std::string SharedLibraryFileName(const std::string& stem) { return stem + ".dll"; }
