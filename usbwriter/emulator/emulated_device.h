#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "chip_file.h"
#include "emulated_programmer.h"
#include "emulator_settings.h"
#include "fault_plan.h"
#include "otp_chip.h"
#include "transcript.h"

namespace qs71::emu {

// The emulated programmer as the HID port sees it: a device found by its hardware ID, two
// handles, and a queue of replies. The faults of the settings sit here, between the port and
// the programmer, the way a flaky cable or driver would.
class EmulatedDevice {
 public:
  // A device for one call of the library, or nullptr when none is attached (a no-device
  // fault, a hardware ID that does not match, settings that cannot be used).
  static std::unique_ptr<EmulatedDevice> Attach(const std::string& pattern);
  ~EmulatedDevice();
  EmulatedDevice(const EmulatedDevice&) = delete;
  EmulatedDevice& operator=(const EmulatedDevice&) = delete;

  bool OpenWrite() const;
  bool OpenRead() const;
  // One 65-byte block each, report ID first.
  bool Write(const uint8_t* block);
  bool Read(uint8_t* block);

 private:
  explicit EmulatedDevice(const EmulatorSettings& settings);
  bool AttachOtpFile();
  void StoreChip();
  void Record(const uint8_t* request) const;
  void KeepPace();

  EmulatorSettings settings;
  OtpChip chip;
  ChipFile otpFile;
  bool otpFileFailed = false;  // said once; the file keeps the last whole part it had
  EmulatedProgrammer programmer;
  FaultPlan faults;
  Transcript transcript;
  std::deque<std::array<uint8_t, 64>> replies;
  uint64_t paced = 0;  // requests taken since the first one
  std::chrono::steady_clock::time_point pacedFrom;
};

}  // namespace qs71::emu
