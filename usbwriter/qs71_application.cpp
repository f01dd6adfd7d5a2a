// The programming job: its run sequence, which orders the steps and always takes the chip out
// of test mode, and the OTP operations the steps carry out (test mode, identification, supply
// voltage, blank check, write, verify and read-back).
#include "qs71_application.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>

#include "chip_identity.h"
#include "qs71_usb_writer.h"
#include "system_area.h"
#include "text_format.h"  // Format
#include "usb_writer.h"

namespace {

// Test mode always comes up at 3.3 V; the firmware takes the set point as a float.
constexpr float kTestModeVdd = 3.3f;

// A read-back starts 64 bytes below the wrap of the 24-bit address space; the first report
// is dropped and the rest is the array from address 0.
constexpr uint32_t kReadBackStart = 0xFFFFC0;
constexpr uint32_t kReadBackLead = 64;

struct WholePartText {
  const char* differs;
  const char* complete;
};

constexpr WholePartText kBlankCheckText = {"[ERROR] OTP NOT blank!\n",
                                           "OTP blank check complete.\n"};
constexpr WholePartText kVerifyText = {"[ERROR] Data NOT match!\n", "Verify OTP complete.\n"};

}  // namespace

Qs71Application::Qs71Application(const std::string& programmer, Qs71OutputFunction function,
                                 void* context)
    : output(function), outputContext(context), writer(new QS71_USB_Writer(programmer)) {}

Qs71Application::Qs71Application(const qs71::ProgrammerName& programmer,
                                 Qs71OutputFunction function, void* context)
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
  if (writer->Refusal() != 0) return Refused();
  const bool steps = blankCheckSelected || writeSelected || verifySelected || readSelected;
  writer->AnnounceJob(steps ? qs71::PartUse::kRunsSteps : qs71::PartUse::kIdentifies);
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
  if (writer->Refusal() != 0) return Refused();
  writer->AnnounceJob(qs71::PartUse::kCompares);
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

// A programmer this call could not hold has had nothing sent to it, so there is no OTP test
// to stop: the one message says why, and the open is the step that failed.
int Qs71Application::Refused() {
  if (lastStep != nullptr) PublishCell(lastStep, QS71_STEP_OPEN);
  trace.failedStep = QS71_STEP_OPEN;
  Print(Format("[ERROR] %s! (%d)\n", writer->RefusalMessage().c_str(), writer->Refusal()));
  return writer->Refusal();
}

int Qs71Application::Cancelled() {
  Print("[ERROR] Job cancelled!\n");
  return QS71_E_CANCELLED;
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

int Qs71Application::StartOtpTest() {
  double vdd = 0.0;
  double vpp = 0.0;
  if (writer->OtpTestStart(kTestModeVdd, &vdd, &vpp)) {
    Inform(Format("OTP test started @ VDD=%.2fV, VPP=%.2fV.\n", vdd, vpp));
  } else {
    Print(Format("Failed to start OTP test!! (%d)\n", writer->LastError()));
  }
  return writer->LastError();
}

int Qs71Application::StopOtpTest() {
  if (writer->OtpTestStop()) {
    Inform("The OTP test stopped.\n");
  } else {
    Print(Format("Failed to stop OTP test!! (%d)\n", writer->LastError()));
  }
  return writer->LastError();
}

int Qs71Application::Identify() {
  const bool read = writer->GetOtpId(&otpId[0], &otpId[1], &otpId[2], &otpId[3]);
  // A reply that came back carries the chip's bytes, whatever its status byte said.
  if (writer->LastError() != QS71_E_TRANSPORT) std::copy(otpId, otpId + 4, trace.chipId);
  if (!read) {
    Print(Format("Failed to get OTP ID 0x%02X, 0x%02X, 0x%02X, 0x%02X!! (%d)\n", otpId[0],
                 otpId[1], otpId[2], otpId[3], writer->LastError()));
    return writer->LastError();
  }
  if (otpId[0] != qs71::kOtpIdByte0 || otpId[1] != qs71::kOtpIdByte1) {
    Print(Format("[ERROR] Invalid OTP ID! (0x%02X,0x%02X,0x%02X,0x%02X)\n", otpId[0], otpId[1],
                 otpId[2], otpId[3]));
    return QS71_E_OTP_ID;
  }
  otpSize = qs71::OtpSizeForCode(otpId[2]);
  if (otpSize == 0) {
    Print(Format("[ERROR] Undefined OTP size! (0x%02X,0x%02X,0x%02X,0x%02X)\n", otpId[0],
                 otpId[1], otpId[2], otpId[3]));
    return QS71_E_SIZE_CODE;
  }
  std::vector<uint8_t> block;
  const int result = ReadSystemArea(block);
  if (result != 0) return result;
  Inform(Format("OTP ID: 0x%02X, 0x%02X, 0x%02X, 0x%02X.\nOTP size: %d bytes.\n", otpId[0],
                otpId[1], otpId[2], otpId[3], static_cast<int>(otpSize)));
  return 0;
}

void Qs71Application::AdjustOtpVdd(double volts) {
  double vdd = 0.0;
  double vpp = 0.0;
  if (writer->AdjustVdd(volts, &vdd, &vpp)) {
    Inform(Format("VDD adjusted @ VDD=%.2fV, VPP=%.2fV.\n", vdd, vpp));
  } else {
    // The supply stays where test mode put it; the operation still runs, and its own checks
    // tell whether the part was readable there.
    Print(Format("[ERROR] Failed to adjust OTP VDD!! (%d)\n", writer->LastError()));
  }
}

int Qs71Application::BlankCheck() {
  const std::vector<uint8_t> expected(otpSize, 0xFF);
  AdjustOtpVdd(blankCheckVdd);
  return JudgeWholePart(expected, true);
}

int Qs71Application::WriteOtp() {
  std::vector<uint8_t> image;
  int result = ImportImage(image);
  if (result != 0) return result;
  AdjustOtpVdd(writeVdd);
  // Only the copy in memory changes: the file stays as it was, and a verify against it still
  // passes, because the mask reads any marker as 0x5A.
  if (clearMarker) image[otpSize - qs71::kMarkerDistance] = 0x00;
  result = WriteRange(0, otpSize, image);
  if (result == 0) Print("Write OTP complete.\n");
  return result;
}

int Qs71Application::VerifyOtp() {
  std::vector<uint8_t> image;
  const int result = ImportImage(image);
  if (result != 0) return result;
  AdjustOtpVdd(verifyVdd);
  return JudgeWholePart(image, false);
}

// The verdict of the blank check (blank) or the verify on the whole part. For a part that is
// not blank the code tells a host where: programmed cells in the main area, or a system area
// that is not the factory's.
int Qs71Application::JudgeWholePart(const std::vector<uint8_t>& expected, bool blank) {
  const WholePartText& text = blank ? kBlankCheckText : kVerifyText;
  PartDifference difference = PartDifference::kNone;
  const int result = ComparePart(expected, blank, 0, otpSize, difference);
  if (result != 0) return result;
  if (difference == PartDifference::kNone) {
    Print(text.complete);
    return 0;
  }
  Print(text.differs);
  return blank && difference == PartDifference::kMainArea ? QS71_E_NOT_BLANK : QS71_E_MISMATCH;
}

int Qs71Application::ReadOtp() {
  AdjustOtpVdd(readVdd);
  EnableEngineerRead();
  std::vector<uint8_t> data;
  int result = ReadRange(kReadBackStart, otpSize + kReadBackLead, data);
  if (result != 0) return result;
  data.erase(data.begin(), data.begin() + kReadBackLead);
  result = ExportFile(readFile, data);
  if (result == 0) Print("Read OTP complete.\n");
  return result;
}

// The programmer's access sequence for its engineering read mode; the sixth word carries the
// part's size code.
int Qs71Application::EnableEngineerRead() {
  std::vector<uint16_t> words = {0x5AA5, 0xE71E, 0x0E01, 0x0000, 0xA55A, 0x0000, 0xC3C3};
  words[5] = static_cast<uint16_t>(words[5] | otpId[2]);
  if (!writer->SendWordList(words)) {
    Print(Format("[ERROR] Failed to enable engineering read!! (%d)\n", writer->LastError()));
    return writer->LastError();
  }
  Print("[WARNING] Enabled engineer read!\n");
  return 0;
}
