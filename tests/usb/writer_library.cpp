#include "writer_library.h"

#include <stdlib.h>

#include <optional>

#include "captured_cout.h"

namespace qs71::test {

WriterLibrary::WriterLibrary(const char* path) {
  if (!library.Open(path, error)) return;
  BindIn(library);
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

void QS71_CDECL AppendText(void* context, const char* text) {
  *static_cast<std::string*>(context) += text;
}

Outcome WriterLibrary::CallOn(const char* programmer, const Job& job,
                              std::string* stdoutText) const {
  Outcome outcome;
  outcome.stage = outcome.progress = outcome.otpSize = -1;
  // Only when asked: std::cout's buffer is one for all threads.
  std::optional<CapturedCout> captured;
  if (stdoutText != nullptr) captured.emplace();
  outcome.result = writerOn(programmer, AppendText, &outcome.output, &outcome.stage,
                            &outcome.progress, &outcome.otpSize, job.blankCheck,
                            job.blankCheckVdd, job.write, job.writeVdd, job.writeVpp, job.verify,
                            job.verifyVdd, job.clearMarker, job.imageFile);
  if (captured) *stdoutText = captured->Text();
  return outcome;
}

Qs71JobRequest JobRequest(const Job& job, const std::vector<uint8_t>& image) {
  Qs71JobRequest request{};
  request.size = sizeof request;
  request.blankCheck = job.blankCheck;
  request.write = job.write;
  request.verify = job.verify;
  request.clearMarker = job.clearMarker;
  request.blankCheckVdd = job.blankCheckVdd;
  request.writeVdd = job.writeVdd;
  request.writeVpp = job.writeVpp;
  request.verifyVdd = job.verifyVdd;
  request.image = image.data();
  request.imageLength = static_cast<uint32_t>(image.size());
  request.imageName = job.imageFile;
  return request;
}

std::vector<Qs71ProgrammerInfo> WriterLibrary::Programmers() const {
  const int32_t count = listProgrammers(nullptr, 0);
  if (count <= 0) return {};
  std::vector<Qs71ProgrammerInfo> list(static_cast<size_t>(count));
  const int32_t again = listProgrammers(list.data(), count);
  list.resize(static_cast<size_t>(again < 0 ? 0 : again < count ? again : count));
  return list;
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
