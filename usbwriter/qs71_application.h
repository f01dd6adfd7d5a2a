#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hid_port.h"  // ProgrammerName
#include "qs71_usb_writer.h"

class QS71_USB_Writer;

// A cell the host polls from another thread: one aligned 32-bit store, made as an atomic
// release store so that a host reading it atomically (and ThreadSanitizer) sees no race. It
// compiles to the same single store.
inline void PublishCell(int32_t* cell, int32_t value) {
  std::atomic_ref<int32_t>(*cell).store(value, std::memory_order_release);
}

// What a job did, step by step (Qs71Step), for a host that learns it as data.
struct JobTrace {
  uint8_t chipId[4] = {0xFF, 0xFF, 0xFF, 0xFF};  // as the chip reported them
  int failedStep = QS71_STEP_NONE;                // the first step that failed
  uint32_t stepsDone = 0;                         // bit (1 << step) per step completed
  double seconds[QS71_STEP_COUNT] = {};
};

// One programming job: the caller's selections and voltages, the OTP operations that carry
// them out through the programmer, and the run sequence that orders them. Every step prints
// one message and returns a result code (qs71_usb_writer.h). A job holds nothing shared with
// other jobs, so jobs on different programmers may run on different threads.
class Qs71Application {
 public:
  // Opens the programmer at that path (empty: the first one found); an absent one only shows
  // when the OTP test fails to start. The job's text goes to output with its context, or to
  // standard output when output is null.
  explicit Qs71Application(const std::string& programmer = std::string(),
                           Qs71OutputFunction output = nullptr, void* outputContext = nullptr);
  // The same for a programmer named by its node and serial too: one that is not the device
  // at its path is refused (QS71_E_REPLACED) as a programmer held elsewhere is.
  Qs71Application(const qs71::ProgrammerName& programmer, Qs71OutputFunction output,
                  void* outputContext);
  virtual ~Qs71Application();
  Qs71Application(const Qs71Application&) = delete;
  Qs71Application& operator=(const Qs71Application&) = delete;

  void SetBlankCheckVdd(double volts) { blankCheckVdd = volts; }
  void SelectBlankCheck() { blankCheckSelected = true; }
  void SetWriteVdd(double volts) { writeVdd = volts; }
  void SetWriteVpp(double volts) { writeVpp = volts; }
  void SetClearMarker(bool clear) { clearMarker = clear; }
  void SelectWrite() { writeSelected = true; }
  void SetVerifyVdd(double volts) { verifyVdd = volts; }
  void SelectVerify() { verifySelected = true; }
  // The job's one image, for the write, the verify and the range: a file read by name at
  // each step that needs it, or the caller's bytes, which must outlive the job. The text
  // names the bytes "Import File: <name>" as it names a file, or not at all without a name.
  void SetImageFile(const std::string& file);
  void SetImageBytes(const uint8_t* bytes, size_t length, const char* name);
  void SelectWrite(const std::string& file) {
    SetImageFile(file);
    SelectWrite();
  }
  void SelectVerify(const std::string& file) {
    SetImageFile(file);
    SelectVerify();
  }
  void SetReadVdd(double volts) { readVdd = volts; }
  void SelectRead(const std::string& file);

  int Run(int* stage, int* progress, int* otpSizeOut);
  // The cell that gets each step (Qs71Step) as it begins, stored as the stage is.
  void WatchSteps(int* lastStepCell) { lastStep = lastStepCell; }
  // A host's cell that stops the job, when non-zero, before its next chunk or step.
  void SetCancelCell(const volatile int32_t* cell) { cancel = cell; }
  const JobTrace& Trace() const { return trace; }

  // The job of Qs71UsbVerifyRange: test mode, identification, one range compared, stop.
  // The range is compared with the same range of the job's image, or with a blank part when
  // no image is set. match carries the verdict when the result is 0.
  void SelectRange(uint32_t start, uint32_t length) {
    rangeStart = start;
    rangeLength = length;
  }
  void SetRangeVdd(double volts) { rangeVdd = volts; }
  int RunRangeVerify(int* otpSizeOut, bool& match);
  // Only failures are printed from now on: a host that compares many ranges in a row wants
  // to hear of a failed step, not of every test start, identification and transfer.
  void PrintFailuresOnly() { routineLinesMuted = true; }

  int StartOtpTest();
  int StopOtpTest();
  int Identify();
  int BlankCheck();
  int WriteOtp();
  int VerifyOtp();
  int ReadOtp();
  int EnableEngineerRead();
  void AdjustOtpVdd(double volts);

  int ReadRange(uint32_t start, uint32_t size, std::vector<uint8_t>& data);
  int WriteRange(uint32_t start, uint32_t size, const std::vector<uint8_t>& data);
  int VerifyRange(uint32_t start, uint32_t size, const std::vector<uint8_t>& data, bool& match);

  int ImportFile(const std::string& name, std::vector<uint8_t>& data);
  int ExportFile(const std::string& name, const std::vector<uint8_t>& data);
  bool CheckSystemArea(const std::vector<uint8_t>& block) const;
  void MaskSystemArea(std::vector<uint8_t>& block) const;
  void Print(const std::string& text);

 private:
  // A line that tells of a step going as planned; muted by PrintFailuresOnly.
  void Inform(const std::string& text);
  int CompareRange();
  // One step of Qs71Step: announced, timed and traced; a set cancel cell fails it unrun.
  int RunStep(int step, int (Qs71Application::*operation)());
  bool CancelRequested() const;
  int Cancelled();
  int Refused();
  int RangeExpectation(std::vector<uint8_t>& expected);
  // Where a part differs from what it should hold, once the comparison went through.
  enum class PartDifference { kNone, kMainArea, kSystemArea };
  // The one comparison of the blank check, the verify and the range verify, over start..end
  // of the part: the main area's share by the programmer, then the system area's read back
  // and compared after masking. expected is the whole part as it should read; blank tells
  // whether that is a blank part or an image.
  int ComparePart(const std::vector<uint8_t>& expected, bool blank, uint32_t start,
                  uint32_t end, PartDifference& difference);
  int JudgeWholePart(const std::vector<uint8_t>& expected, bool blank);
  // The system area, as masked, that a part passing the blank check (blank) or the verify
  // against content must show; maskedBlock is the part's own, already masked.
  std::vector<uint8_t> ExpectedSystemArea(const std::vector<uint8_t>& content, bool blank,
                                          const std::vector<uint8_t>& maskedBlock) const;
  int RunSelected(int* stage);
  int ReadSystemArea(std::vector<uint8_t>& block);
  int RejectSize(const char* message, uint32_t size, int code);
  int TransferFailed(const char* message);
  void PublishProgress(uint32_t address, uint32_t chunk);
  // One report per chunk through send(offset, more), where more is false for the last one.
  int TransferChunks(uint32_t start, uint32_t size, uint32_t chunk, const char* failure,
                     const std::function<bool(uint32_t offset, bool more)>& send);
  // The job's image, refused unless it is exactly as large as the part.
  int ImportImage(std::vector<uint8_t>& image);

  bool blankCheckSelected = false;
  bool writeSelected = false;
  bool verifySelected = false;
  bool readSelected = false;
  bool clearMarker = false;
  uint8_t otpId[4] = {0, 0, 0, 0};
  uint32_t otpSize = 0;
  int* progress = nullptr;
  double blankCheckVdd = 0.0;
  double readVdd = 0.0;
  double verifyVdd = 0.0;
  double writeVdd = 0.0;
  double writeVpp = 0.0;
  enum class ImageKind { kNone, kFile, kBytes } imageKind = ImageKind::kNone;
  std::string imageName;  // the file, or the name the text gives the bytes
  bool imageNamed = false;
  const uint8_t* imageBytes = nullptr;
  size_t imageLength = 0;
  std::string readFile;
  uint32_t rangeStart = 0;
  uint32_t rangeLength = 0;
  double rangeVdd = 0.0;
  bool rangeMatch = true;
  bool routineLinesMuted = false;
  int* lastStep = nullptr;
  const volatile int32_t* cancel = nullptr;
  JobTrace trace;
  Qs71OutputFunction output;
  void* outputContext;
  QS71_USB_Writer* writer;
};
