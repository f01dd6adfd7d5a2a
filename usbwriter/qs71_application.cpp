#include "qs71_application.h"

#include <atomic>
#include <iostream>

#include "system_area.h"
#include "usb_writer.h"

namespace {

// The host polls these cells from another thread; each update is one aligned 32-bit store,
// made as an atomic store so that a host reading it atomically (and ThreadSanitizer) sees no
// race. It compiles to the same single store.
void Publish(int* cell, int value) {
  std::atomic_ref<int>(*cell).store(value, std::memory_order_release);
}

}  // namespace

Qs71Application::Qs71Application(const std::string& programmer, Qs71OutputFunction function,
                                 void* context)
    : output(function), outputContext(context), writer(new QS71_USB_Writer(programmer)) {}

Qs71Application::~Qs71Application() { delete writer; }

void Qs71Application::SelectWrite(const std::string& file) {
  writeSelected = true;
  writeFile = file;
}

void Qs71Application::SelectVerify(const std::string& file) {
  verifySelected = true;
  verifyFile = file;
}

void Qs71Application::SelectRead(const std::string& file) {
  readSelected = true;
  readFile = file;
}

void Qs71Application::SetRangeImage(const std::string& file) {
  rangeAgainstImage = true;
  rangeFile = file;
}

int Qs71Application::Run(int* stage, int* progressCell, int* otpSizeOut) {
  progress = progressCell;
  Publish(progress, 0);
  Publish(stage, 0);
  writer->AnnounceJob(blankCheckSelected || writeSelected || verifySelected || readSelected);
  int result = StartOtpTest();
  if (result == 0) {
    result = Identify();
    Publish(otpSizeOut, static_cast<int>(otpSize));
    if (result == 0) result = RunSelected(stage);
  }
  // The chip is taken out of test mode whatever happened before; a failure to stop is
  // printed, but the result stays that of the first failure.
  StopOtpTest();
  Publish(stage, 0);
  progress = nullptr;
  return result;
}

// The same frame as Run, around one comparison: the chip leaves test mode whatever happened.
int Qs71Application::RunRangeVerify(int* otpSizeOut, bool& match) {
  match = true;
  writer->AnnounceJob(true);
  int result = StartOtpTest();
  if (result == 0) {
    result = Identify();
    if (otpSizeOut != nullptr) *otpSizeOut = static_cast<int>(otpSize);
    if (result == 0) result = CompareRange(match);
  }
  StopOtpTest();
  return result;
}

// Blank check before write before verify: a failed step ends the job, so a part that is not
// blank is never programmed and a failed write is never verified.
int Qs71Application::RunSelected(int* stage) {
  struct Step {
    bool Qs71Application::*selected;
    int stage;
    int (Qs71Application::*operation)();
  };
  static constexpr Step kSteps[] = {
      {&Qs71Application::blankCheckSelected, 1, &Qs71Application::BlankCheck},
      {&Qs71Application::writeSelected, 2, &Qs71Application::WriteOtp},
      {&Qs71Application::verifySelected, 3, &Qs71Application::VerifyOtp},
  };
  for (const Step& step : kSteps) {
    if (!(this->*step.selected)) continue;
    Publish(stage, step.stage);
    const int result = (this->*step.operation)();
    if (result != 0) return result;
  }
  return readSelected ? ReadOtp() : 0;
}

bool Qs71Application::CheckSystemArea(const std::vector<uint8_t>& block) const {
  return qs71::CheckSystemArea(block);
}

void Qs71Application::MaskSystemArea(std::vector<uint8_t>& block) const {
  qs71::MaskSystemArea(block);
}

// Flushed at once: a host that shows progress beside the messages, or logs them, sees each
// one when it happens, not when a buffer fills or the process ends. A host's function gets
// the same pieces, one call each.
void Qs71Application::Print(const std::string& text) {
  if (output != nullptr) {
    output(outputContext, text.c_str());
    return;
  }
  std::cout << text << std::flush;
}

void Qs71Application::Inform(const std::string& text) {
  if (!routineLinesMuted) Print(text);
}
