#pragma once
// A shared library opened at run time, the way any host opens the programmer library: with
// dlopen on Linux (shared_library_posix.cpp) and LoadLibrary on Windows
// (shared_library_windows.cpp). Opening by path lets one program serve the production and
// the emulated build alike, and lets the tests drive the very file a host would load.

#include <string>
#include <utility>

class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary() { Close(); }
  SharedLibrary(SharedLibrary&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}
  SharedLibrary& operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
      Close();
      handle = std::exchange(other.handle, nullptr);
    }
    return *this;
  }
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // On failure, error has the system loader's reason and nothing is open.
  bool Open(const std::string& path, std::string& error);
  void Close();
  bool IsOpen() const { return handle != nullptr; }

  // The exported function `name` as a Function, or null when the library lacks it.
  template <typename Function>
  Function Find(const char* name) const {
    return reinterpret_cast<Function>(FindFunction(name));
  }
  bool Exports(const char* name) const { return FindFunction(name) != nullptr; }

 private:
  // The one function pointer type that stands between the loader's and the caller's.
  using AnyFunction = void (*)();
  AnyFunction FindFunction(const char* name) const;

  void* handle = nullptr;
};

// The file a library called `stem` has on this system: "libstem.so", "stem.dll".
std::string SharedLibraryFileName(const std::string& stem);
