#pragma once

#include <hidapi.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "chip_file.h"
#include "emulated_programmer.h"
#include "otp_chip.h"
#include "standin_control.h"
#include "standin_faults.h"

namespace qs71::standin {

// One input report as hidraw hands it over: the payload without the report ID.
struct InputReport {
  std::array<uint8_t, 64> bytes{};
  size_t length = 64;
};

}  // namespace qs71::standin

// hidraw gives every open file its own ring of input reports.
struct hid_device_ {
  std::deque<qs71::standin::InputReport> queue;
};

namespace qs71::standin {

// The programmer on the other end of hidraw: the emulated programmer and chip of
// usbwriter/emulator behind the rules of hidapi 0.13 over hidraw, with the faults of
// standin_faults.h. Every rule the caller breaks is written down, never thrown.
class StandinDevice {
 public:
  static StandinDevice& Instance();

  void Reset();
  bool AddFaults(const std::string& text);
  const Qs71StandinRecord& Record() const { return record; }
  const std::string& Violations() const { return violations; }
  const std::vector<uint8_t>& Cells() const { return chip->Cells(); }

  int Init();
  int Exit();
  hid_device_info* Enumerate(unsigned short vendorId, unsigned short productId);
  void FreeEnumeration(hid_device_info* list);
  hid_device* Open(const char* path);
  void Close(hid_device* handle);
  int Write(hid_device* handle, const unsigned char* data, size_t length);
  int Read(hid_device* handle, unsigned char* data, size_t length, int milliseconds);

 private:
  StandinDevice();
  void Violate(const std::string& text);
  bool Known(hid_device* handle, const char* call);
  void CheckInitialised(const char* call);
  bool OpenRefused();
  void TakeReport(const unsigned char* request, FaultHits hits);
  void Deliver(const InputReport& report);
  int Deliver(hid_device* handle, unsigned char* data, size_t length);
  int TimeOut(int milliseconds, bool retry);
  int PolledAgain();
  void LoadSharedChip();

  std::unique_ptr<emu::OtpChip> chip;
  std::unique_ptr<emu::EmulatedProgrammer> programmer;
  emu::ChipFile chipFile;
  FaultList faults;
  std::set<hid_device*> handles;
  std::optional<InputReport> lateReply;
  bool initialised = false;
  bool unplugged = false;
  bool silent = false;
  bool interruptNextRead = false;
  bool lastReadInterrupted = false;
  bool readEnded = false;  // the last read ended in a time-out or an unplug
  uint32_t opensSinceInit = 0;
  Qs71StandinRecord record{};
  std::string violations;
};

}  // namespace qs71::standin
