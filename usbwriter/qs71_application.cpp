#include "qs71_application.h"

#include <atomic>
#include <chrono>
#include <iostream>

#include "system_area.h"
#include "usb_writer.h"

Qs71Application::Qs71Application(const std::string& programmer, Qs71OutputFunction function,
                                 void* context)
    : output(function), outputContext(context), writer(new QS71_USB_Writer(programmer)) {}

Qs71Application::~Qs71Application() { delete writer; }

void Qs71Application::SelectRead(const std::string& file) {
  readSelected = true;
  readFile = file;
}

int Qs71Application::Run(int* stage, int* progressCell, int* otpSizeOut) {
  progress = progressCell;
  PublishCell(progress, 0);
  PublishCell(stage, 0);
  writer->AnnounceJob(blankCheckSelected || writeSelected || verifySelected || readSelected);
  int result = RunStep(QS71_STEP_OPEN, &Qs71Application::StartOtpTest);
  if (result == 0) {
    result = RunStep(QS71_STEP_IDENTIFY, &Qs71Application::Identify);
    PublishCell(otpSizeOut, static_cast<int>(otpSize));
    if (result == 0) result = RunSelected(stage);
  }
  // The chip is taken out of test mode whatever happened before; a failure to stop is
  // printed, but the result stays that of the first failure.
  RunStep(QS71_STEP_STOP, &Qs71Application::StopOtpTest);
  PublishCell(stage, 0);
  progress = nullptr;
  return result;
}

// The same frame as Run, around one comparison: the chip leaves test mode whatever happened.
int Qs71Application::RunRangeVerify(int* otpSizeOut, bool& match) {
  rangeMatch = true;
  writer->AnnounceJob(true);
  int result = RunStep(QS71_STEP_OPEN, &Qs71Application::StartOtpTest);
  if (result == 0) {
    result = RunStep(QS71_STEP_IDENTIFY, &Qs71Application::Identify);
    if (otpSizeOut != nullptr) PublishCell(otpSizeOut, static_cast<int>(otpSize));
    if (result == 0) result = RunStep(QS71_STEP_COMPARE, &Qs71Application::CompareRange);
  }
  RunStep(QS71_STEP_STOP, &Qs71Application::StopOtpTest);
  match = rangeMatch;
  return result;
}

// Blank check before write before verify: a failed step ends the job, so a part that is not
// blank is never programmed and a failed write is never verified.
int Qs71Application::RunSelected(int* stage) {
  struct Step {
    bool Qs71Application::*selected;
    int stage;
    int step;
    int (Qs71Application::*operation)();
  };
  static constexpr Step kSteps[] = {
      {&Qs71Application::blankCheckSelected, QS71_STAGE_BLANK_CHECK, QS71_STEP_BLANK_CHECK,
       &Qs71Application::BlankCheck},
      {&Qs71Application::writeSelected, QS71_STAGE_WRITE, QS71_STEP_WRITE,
       &Qs71Application::WriteOtp},
      {&Qs71Application::verifySelected, QS71_STAGE_VERIFY, QS71_STEP_VERIFY,
       &Qs71Application::VerifyOtp},
  };
  for (const Step& step : kSteps) {
    if (!(this->*step.selected)) continue;
    PublishCell(stage, step.stage);
    const int result = RunStep(step.step, step.operation);
    if (result != 0) return result;
  }
  return readSelected ? ReadOtp() : 0;
}

// The stop is never cancelled: whatever happened, the chip leaves test mode.
int Qs71Application::RunStep(int step, int (Qs71Application::*operation)()) {
  if (lastStep != nullptr) PublishCell(lastStep, step);
  const auto start = std::chrono::steady_clock::now();
  const int result = step != QS71_STEP_STOP && CancelRequested() ? Cancelled()
                                                                 : (this->*operation)();
  trace.seconds[step] +=
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (result == 0) {
    trace.stepsDone |= 1u << step;
  } else if (trace.failedStep == QS71_STEP_NONE) {
    trace.failedStep = step;
  }
  return result;
}

// The host may set its cell from any thread, or from a signal handler; it is read as an
// atomic, so that the store is seen and the read is no race.
bool Qs71Application::CancelRequested() const {
  return cancel != nullptr &&
         std::atomic_ref<int32_t>(const_cast<int32_t&>(*cancel))
                 .load(std::memory_order_acquire) != 0;
}

int Qs71Application::Cancelled() {
  Print("[ERROR] Job cancelled!\n");
  return QS71_E_CANCELLED;
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
