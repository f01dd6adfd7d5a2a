#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hid_port.h"

// text as a listing's field of `size` bytes holds it: NUL included, so cut to size - 1 bytes at
// most, and never inside a UTF-8 character.
std::string CutToField(const std::string& text, size_t size);

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
  // one of the devices List gives, empty for the first programmer (the first List gives).
  bool Open(const std::string& vid, const std::string& pid, const std::string& rev,
            const std::string& path = std::string());
  // The same for a device named by its node and serial too (hid_port.h): one that is not the
  // device at its path is refused with QS71_E_REPLACED before anything is sent.
  bool Open(const std::string& vid, const std::string& pid, const std::string& rev,
            const qs71::ProgrammerName& name);
  // The attached devices with these numbers, ordered by path; false when none can be listed.
  static bool List(const std::string& vid, const std::string& pid, const std::string& rev,
                   std::vector<qs71::HidPortInfo>& found);
  void AnnounceJob(qs71::PartUse use);
  // Finds the device the last Open named (the first programmer for none).
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
  // Qs71UsbHold: takes the hold of the programmer named to outlive this object. found
  // receives the device held; QS71_E_TRANSPORT when none is attached, QS71_E_REPLACED when
  // the device at the path is not the one named; a refusal's holder or reason goes to why.
  static int HoldDevice(const std::string& vid, const std::string& pid, const std::string& rev,
                        const qs71::ProgrammerName& name, qs71::HidPortInfo& found,
                        qs71::HeldShares& shares, std::string& why);
  const std::string& DeviceId() const { return deviceId; }

 private:
  bool Usable() const { return connected && !openFailed; }
  static std::string DeviceIdFor(const std::string& vid, const std::string& pid,
                                 const std::string& rev);
  // Finds the device named and takes the call's hold of it, checking that it is the one
  // named before the hold and after it: 0, or the refusal's code with why.
  int FindAndHold(std::string& why);
  void Refuse(int code, const std::string& why);

  uint8_t* outReport;
  uint8_t* inReport;
  uint8_t outBuffer[qs71::kReportPayload];
  uint8_t inBuffer[qs71::kReportPayload];
  bool connected = false;
  bool openFailed = false;
  int refusal = 0;
  std::string refusalMessage;
  std::string deviceId;
  qs71::ProgrammerName named;
  qs71::HidPortDevice* port;
};
