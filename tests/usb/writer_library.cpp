#include "writer_library.h"

#include <stdlib.h>

#include "captured_cout.h"

namespace qs71::test {

WriterLibrary::WriterLibrary(const char* path) {
  if (!library.Open(path, error)) return;
  writer = library.Find<Qs71UsbWriterFunction>("Qs71UsbWriter");
  reset = library.Find<decltype(reset)>("Qs71EmuReset");
  setChipId = library.Find<decltype(setChipId)>("Qs71EmuSetChipId");
  addFaults = library.Find<decltype(addFaults)>("Qs71EmuAddFaults");
  setOtpFile = library.Find<decltype(setOtpFile)>("Qs71EmuSetOtpFile");
  setTranscript = library.Find<decltype(setTranscript)>("Qs71EmuSetTranscript");
  presetCell = library.Find<decltype(presetCell)>("Qs71EmuPresetCell");
  requestCount = library.Find<decltype(requestCount)>("Qs71EmuRequestCount");
  copyOtp = library.Find<decltype(copyOtp)>("Qs71EmuCopyOtp");
  if (writer == nullptr) error = std::string("no Qs71UsbWriter in ") + path;
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

ScopedEnv::ScopedEnv(const char* variable, const std::string& value) : name(variable) {
  setenv(variable, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() { unsetenv(name.c_str()); }

}  // namespace qs71::test
