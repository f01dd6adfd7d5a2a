#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "chip_file.h"
#include "emulated_programmer.h"
#include "emulator_settings.h"
#include "fault_plan.h"
#include "otp_chip.h"
#include "part_use.h"
#include "programmer_hold.h"
#include "transcript.h"

namespace qs71::emu {

// The emulated programmer as the HID port sees it: a device found by its hardware ID, two
// handles, and a queue of replies. The faults of the settings sit here, between the port and
// the programmer, the way a flaky cable or driver would.
class EmulatedDevice {
 public:
  // A device for one call of the library, or nullptr when none is attached (a no-device
  // fault, a hardware ID that does not match, no programmer with that path, settings that
  // cannot be used). An empty path is the first programmer. Its part is attached by Hold.
  static std::unique_ptr<EmulatedDevice> Attach(const std::string& pattern,
                                                const std::string& path);
  // The paths, serials and releases of the programmers the pattern finds; false when the
  // settings cannot be used.
  struct Listed {
    std::string path;
    std::string serial;
    unsigned release;
    std::string node;
  };
  static bool List(const std::string& pattern, std::vector<Listed>& found);
  ~EmulatedDevice();
  EmulatedDevice(const EmulatedDevice&) = delete;
  EmulatedDevice& operator=(const EmulatedDevice&) = delete;

  // Holds the files the programmer keeps its part in, which other processes may share (the
  // socket's folder, the part's file), then attaches the part from its file. Refused with
  // QS71_E_BUSY or QS71_E_HOLD, or with QS71_E_TRANSPORT and the reason when the part
  // cannot be attached. The shares are the caller's, to outlive the device if it likes.
  HoldResult Hold(HeldShares& shares);
  std::string Path() const;
  // The node and serial the bus gave the device it was attached as.
  std::string Node() const { return listedNode; }
  std::string Serial() const { return listedSerial; }
  bool OpenWrite();
  bool OpenRead() const;
  // What the call does to the part (the socket's rule).
  void AnnounceJob(PartUse use);
  // One 65-byte block each, report ID first.
  bool Write(const uint8_t* block);
  bool Read(uint8_t* block);

 private:
  EmulatedDevice(const EmulatorSettings& settings, int number);
  static bool TakeSocketPart(EmulatorSettings& settings, int number, std::string& part);
  HoldResult AttachOtpFile(HeldShares& shares, bool holding);
  void EmptySocket();
  bool StoreChip();
  void Record(const uint8_t* request) const;
  void CheckHold();
  void KeepPace();

  EmulatorSettings settings;
  int number;                      // which programmer, from 1
  std::string listedPath;          // the path it was found at
  std::string listedNode;
  std::string listedSerial;
  std::string part;                // the socket's part, empty when there is none
  std::string socketFolder;        // where the socket takes its parts from, "" for none
  std::vector<Fault> commonFaults;  // those of the settings, without the part's own
  OtpChip chip;
  ChipFile otpFile;
  bool otpFileFailed = false;  // said once; the file keeps the last whole part it had
  EmulatedProgrammer programmer;
  FaultPlan faults;
  Transcript transcript;
  bool described = false;  // the transcript has been opened and told of this device
  bool holdChecked = false;
  std::deque<std::array<uint8_t, 64>> replies;
  uint64_t paced = 0;  // requests taken since the first one
  std::chrono::steady_clock::time_point pacedFrom;
};

}  // namespace qs71::emu
