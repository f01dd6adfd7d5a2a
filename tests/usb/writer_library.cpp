#include "writer_library.h"

#include <dlfcn.h>
#include <stdlib.h>

#include "captured_cout.h"
#include "test_scratch.h"

namespace qs71::test {

namespace {

template <typename F>
void Resolve(void* handle, const char* name, F& function) {
  function = reinterpret_cast<F>(dlsym(handle, name));
}

}  // namespace

WriterLibrary::WriterLibrary(const char* path) {
  handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    error = dlerror();
    return;
  }
  Resolve(handle, "Qs71UsbWriter", writer);
  Resolve(handle, "Qs71EmuReset", reset);
  Resolve(handle, "Qs71EmuSetChipId", setChipId);
  Resolve(handle, "Qs71EmuAddFaults", addFaults);
  Resolve(handle, "Qs71EmuSetOtpFile", setOtpFile);
  Resolve(handle, "Qs71EmuSetTranscript", setTranscript);
  Resolve(handle, "Qs71EmuPresetCell", presetCell);
  Resolve(handle, "Qs71EmuRequestCount", requestCount);
  Resolve(handle, "Qs71EmuCopyOtp", copyOtp);
  if (writer == nullptr) error = std::string("no Qs71UsbWriter in ") + path;
}

WriterLibrary::~WriterLibrary() {
  if (handle != nullptr) dlclose(handle);
}

Outcome WriterLibrary::Call(const Job& job) const {
  Outcome outcome;
  outcome.stage = outcome.progress = outcome.otpSize = -1;
  CapturedCout captured;
  outcome.result = writer(&outcome.stage, &outcome.progress, &outcome.otpSize, job.blankCheck,
                          job.blankCheckVdd, job.write, job.writeVdd, job.writeVpp, job.verify,
                          job.verifyVdd, job.clearMarker, job.imageFile);
  outcome.output = captured.Text();
  return outcome;
}

std::vector<uint8_t> WriterLibrary::Chip() const {
  std::vector<uint8_t> chip(copyOtp(nullptr, 0));
  copyOtp(chip.data(), static_cast<uint32_t>(chip.size()));
  return chip;
}

const WriterLibrary& Emulated() {
  static const WriterLibrary library(QS71_EMULATED_LIBRARY);
  return library;
}

const WriterLibrary& Production() {
  static const WriterLibrary library(QS71_PRODUCTION_LIBRARY);
  return library;
}

std::filesystem::path TempDir(const std::string& name) {
  return ScratchFolder(QS71_TEST_TMPDIR, name);
}

ScopedEnv::ScopedEnv(const char* variable, const std::string& value) : name(variable) {
  setenv(variable, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() { unsetenv(name.c_str()); }

}  // namespace qs71::test
