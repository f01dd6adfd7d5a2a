#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "qs71_usb_writer.h"

class QS71_USB_Writer;

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
  virtual ~Qs71Application();
  Qs71Application(const Qs71Application&) = delete;
  Qs71Application& operator=(const Qs71Application&) = delete;

  void SetBlankCheckVdd(double volts) { blankCheckVdd = volts; }
  void SelectBlankCheck() { blankCheckSelected = true; }
  void SetWriteVdd(double volts) { writeVdd = volts; }
  void SetWriteVpp(double volts) { writeVpp = volts; }
  void SetClearMarker(bool clear) { clearMarker = clear; }
  void SelectWrite(const std::string& file);
  void SetVerifyVdd(double volts) { verifyVdd = volts; }
  void SelectVerify(const std::string& file);
  void SetReadVdd(double volts) { readVdd = volts; }
  void SelectRead(const std::string& file);

  int Run(int* stage, int* progress, int* otpSizeOut);

  // The job of Qs71UsbVerifyRange: test mode, identification, one range compared, stop.
  // The range is compared with the same range of the image file, or with a blank part when
  // no file is set. match carries the verdict when the result is 0.
  void SelectRange(uint32_t start, uint32_t length) {
    rangeStart = start;
    rangeLength = length;
  }
  void SetRangeVdd(double volts) { rangeVdd = volts; }
  void SetRangeImage(const std::string& file);
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
  int CompareRange(bool& match);
  int RangeExpectation(std::vector<uint8_t>& expected);
  int CompareSystemAreaPart(const std::vector<uint8_t>& expected, uint32_t from, uint32_t to,
                            bool& match);
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
  // The image file, refused unless it is exactly as large as the part.
  int ImportImage(const std::string& name, std::vector<uint8_t>& image);

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
  std::string writeFile;
  std::string verifyFile;
  std::string readFile;
  uint32_t rangeStart = 0;
  uint32_t rangeLength = 0;
  double rangeVdd = 0.0;
  bool rangeAgainstImage = false;
  std::string rangeFile;
  bool routineLinesMuted = false;
  Qs71OutputFunction output;
  void* outputContext;
  QS71_USB_Writer* writer;
};
