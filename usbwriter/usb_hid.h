#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hid_port.h"

// The HID transport to the programmer: finds it by its hardware ID, opens it once as a write
// and a read handle, and moves 64-byte reports through two buffers that the command layer
// fills and reads. It knows nothing of what the bytes mean and never prints.
class UsbHid {
 public:
  UsbHid();
  virtual ~UsbHid();
  UsbHid(const UsbHid&) = delete;
  UsbHid& operator=(const UsbHid&) = delete;

  // vid, pid and rev as four upper-case hex digits each ("04D8", "FE08", "0101"); path names
  // one of the devices List gives, empty for the first one found.
  bool Open(const std::string& vid, const std::string& pid, const std::string& rev,
            const std::string& path = std::string());
  // The attached devices with these numbers, ordered by path; false when none can be listed.
  static bool List(const std::string& vid, const std::string& pid, const std::string& rev,
                   std::vector<qs71::HidPortInfo>& found);
  void AnnounceJob(bool runsSteps);
  bool FindDevice();
  void ClearBuffers();
  bool WriteReport();
  bool ReadReport();
  bool WriteReportFrom(const uint8_t* src);
  bool ReadReportInto(uint8_t* dst);
  // The read runs even when the write failed: whatever the programmer still had queued is
  // drained, and the exchange fails either way.
  bool Transact();

  uint8_t* OutReport() { return outReport; }
  const uint8_t* InReport() const { return inReport; }
  bool Connected() const { return connected; }
  bool OpenFailed() const { return openFailed; }
  // When the programmer was found but not held (or, emulated, its part not attached): the
  // code (programmer_hold.h) and the text for a person; 0 otherwise.
  int Refusal() const { return refusal; }
  const std::string& RefusalMessage() const { return refusalMessage; }
  // Qs71UsbHold: takes the hold of the programmer at path (empty: the first one found) to
  // outlive this object. found receives its path; QS71_E_TRANSPORT when none is attached; a
  // refusal's holder or reason goes to why.
  static int HoldDevice(const std::string& vid, const std::string& pid, const std::string& rev,
                        const std::string& path, std::string& found, qs71::HeldShares& shares,
                        std::string& why);
  const std::string& DeviceId() const { return deviceId; }

 private:
  bool Usable() const { return connected && !openFailed; }
  static std::string DeviceIdFor(const std::string& vid, const std::string& pid,
                                 const std::string& rev);

  uint8_t* outReport;
  uint8_t* inReport;
  uint8_t outBuffer[qs71::kReportPayload];
  uint8_t inBuffer[qs71::kReportPayload];
  bool connected = false;
  bool openFailed = false;
  int refusal = 0;
  std::string refusalMessage;
  std::string deviceId;
  std::string devicePath;
  qs71::HidPortDevice* port;
};
