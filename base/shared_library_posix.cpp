#include <dlfcn.h>

#include "shared_library.h"

// RTLD_LOCAL: two builds of the programmer library export the same names, and a test loads
// both into one process.
bool SharedLibrary::Open(const std::string& path, std::string& error) {
  Close();
  handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle != nullptr) return true;
  const char* why = dlerror();
  error = why != nullptr ? why : path + ": cannot be loaded";
  return false;
}

void SharedLibrary::Close() {
  if (handle != nullptr) dlclose(handle);
  handle = nullptr;
}

SharedLibrary::AnyFunction SharedLibrary::FindFunction(const char* name) const {
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<AnyFunction>(dlsym(handle, name));
}

std::string SharedLibraryFileName(const std::string& stem) { return "lib" + stem + ".so"; }
