#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "writer_library.h"

namespace qs71prog {

namespace {

template <typename Function>
Function Resolve(void* handle, const char* name) {
  return reinterpret_cast<Function>(dlsym(handle, name));
}

}  // namespace

WriterLibrary::~WriterLibrary() {
  if (handle != nullptr) dlclose(handle);
}

bool WriterLibrary::Load(const std::string& file, std::string& error) {
  void* loaded = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (loaded == nullptr) {
    const char* why = dlerror();
    error = why != nullptr ? why : file + ": cannot be loaded";
    return false;
  }
  const auto function = Resolve<Qs71UsbWriterFunction>(loaded, "Qs71UsbWriter");
  if (function == nullptr) {
    error = file + " has no Qs71UsbWriter";
    dlclose(loaded);
    return false;
  }
  if (handle != nullptr) dlclose(handle);
  handle = loaded;
  writer = function;
  emulated = dlsym(loaded, "Qs71EmuReset") != nullptr;
  path = file;
  return true;
}

std::string ExecutableDirectory() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return "";
  const std::string executable(buffer, static_cast<size_t>(length));
  const size_t slash = executable.rfind('/');
  return slash == std::string::npos ? "" : executable.substr(0, slash);
}

}  // namespace qs71prog
