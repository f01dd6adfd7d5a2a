#include "standin_library.h"

#include <dlfcn.h>

#include <filesystem>

#include "writer_library.h"

namespace qs71::test {

namespace {

template <typename F>
bool Resolve(void* handle, const char* name, F& function) {
  function = reinterpret_cast<F>(dlsym(handle, name));
  return function != nullptr;
}

std::string FileOf(void* symbol) {
  Dl_info info{};
  return dladdr(symbol, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

bool IsTheStandin(const std::string& file) {
  std::error_code error;
  return std::filesystem::equivalent(file, QS71_STANDIN_LIBRARY, error);
}

StandinLibrary Find() {
  StandinLibrary standin;
  if (!Production().Loaded()) {
    standin.error = Production().Error();
    return standin;
  }
  // Already loaded as the production library's dependency; this only finds it.
  void* handle = dlopen("libhidapi-hidraw.so.0", RTLD_NOW | RTLD_NOLOAD);
  void* init = handle != nullptr ? dlsym(handle, "hid_init") : nullptr;
  standin.file = init != nullptr ? FileOf(init) : "";
  const bool complete = init != nullptr && Resolve(handle, "Qs71StandinReset", standin.reset) &&
                        Resolve(handle, "Qs71StandinAddFaults", standin.addFaults) &&
                        Resolve(handle, "Qs71StandinGetRecord", standin.getRecord) &&
                        Resolve(handle, "Qs71StandinViolations", standin.violations) &&
                        Resolve(handle, "Qs71StandinCopyOtp", standin.copyOtp);
  if (!complete || !IsTheStandin(standin.file)) {
    standin.error = "the production library was given libhidapi-hidraw.so.0 from '" +
                    standin.file + "', not the stand-in " + QS71_STANDIN_LIBRARY +
                    " (ctest sets LD_LIBRARY_PATH)";
  }
  return standin;
}

}  // namespace

Qs71StandinRecord StandinLibrary::Record() const {
  Qs71StandinRecord record{};
  getRecord(&record);
  return record;
}

std::vector<uint8_t> StandinLibrary::Chip() const {
  std::vector<uint8_t> cells(copyOtp(nullptr, 0));
  copyOtp(cells.data(), static_cast<uint32_t>(cells.size()));
  return cells;
}

const StandinLibrary& LoadedStandin() {
  static const StandinLibrary standin = Find();
  return standin;
}

std::string StandinLibrary::Unsettled() const {
  const Qs71StandinRecord record = Record();
  std::string text;
  if (record.inits != record.exits) {
    text += std::to_string(record.inits) + " hid_init, " + std::to_string(record.exits) +
            " hid_exit\n";
  }
  if (record.openHandles != 0) text += std::to_string(record.openHandles) + " handles open\n";
  if (record.openEnumerations != 0) {
    text += std::to_string(record.openEnumerations) + " enumerations not freed\n";
  }
  return text + violations();
}

}  // namespace qs71::test
