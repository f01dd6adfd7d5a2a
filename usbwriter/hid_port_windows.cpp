// Windows: the programmer through SetupAPI (finding it among the HID interfaces) and the
// kernel's file calls (one handle per direction, 65-byte reports).
#include "hid_port.h"

// windows.h must come before setupapi.h.
#include <windows.h>
#include <setupapi.h>

#include <cstdlib>
#include <cstring>

#include "hardware_id.h"

namespace qs71 {

namespace {

// The HID device-interface class.
const GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// A bound on the search, so that a broken enumeration cannot hold the host forever.
constexpr DWORD kMaxInterfaceIndex = 10000000;
// Overlapped status of a transfer the system has not finished yet.
constexpr ULONG_PTR kStatusPending = 0x103;

}  // namespace

struct HidPortDevice {
  SP_DEVICE_INTERFACE_DETAIL_DATA_A* interfaceDetail = nullptr;
  HANDLE writeHandle = INVALID_HANDLE_VALUE;
  HANDLE readHandle = INVALID_HANDLE_VALUE;
};

HidPortDevice* HidPortCreate() { return new HidPortDevice(); }

void HidPortDestroy(HidPortDevice* device) {
  if (device == nullptr) return;
  HidPortCloseWrite(device);
  HidPortCloseRead(device);
  std::free(device->interfaceDetail);
  delete device;
}

namespace {

// The first string of the device's hardware-ID list; empty when it has none.
std::string FirstHardwareIdOf(HDEVINFO set, SP_DEVINFO_DATA* devInfo, bool* allocated) {
  DWORD size = 0;
  SetupDiGetDeviceRegistryPropertyA(set, devInfo, SPDRP_HARDWAREID, nullptr, nullptr, 0, &size);
  char* buffer = static_cast<char*>(std::malloc(size + 1));
  *allocated = buffer != nullptr;
  if (buffer == nullptr) return std::string();
  std::memset(buffer, 0, size + 1);
  SetupDiGetDeviceRegistryPropertyA(set, devInfo, SPDRP_HARDWAREID, nullptr,
                                    reinterpret_cast<BYTE*>(buffer), size, nullptr);
  std::string first = FirstHardwareId(buffer, size);
  std::free(buffer);
  return first;
}

bool ReadInterfaceDetail(HidPortDevice* device, HDEVINFO set, SP_DEVICE_INTERFACE_DATA* ifData) {
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailA(set, ifData, nullptr, 0, &required, nullptr);
  auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::malloc(required));
  if (detail == nullptr) return false;
  // The fixed part only: 5 bytes on 32-bit Windows, 8 on 64-bit.
#if defined(_WIN32) && !defined(_WIN64)
  static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "packed as on 32-bit Windows");
#endif
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  SetupDiGetDeviceInterfaceDetailA(set, ifData, detail, required, nullptr, nullptr);
  std::free(device->interfaceDetail);
  device->interfaceDetail = detail;
  return true;
}

// Searches the set; false when the list ends, an allocation fails or the index runs out.
bool SearchInterfaces(HidPortDevice* device, HDEVINFO set, const std::string& pattern) {
  for (DWORD index = 0; index < kMaxInterfaceIndex; ++index) {
    SP_DEVICE_INTERFACE_DATA ifData;
    ifData.cbSize = sizeof ifData;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceClass, index, &ifData) ||
        GetLastError() == ERROR_NO_MORE_ITEMS) {
      return false;
    }
    SP_DEVINFO_DATA devInfo;
    devInfo.cbSize = sizeof devInfo;
    SetupDiEnumDeviceInfo(set, index, &devInfo);
    bool allocated = false;
    const std::string id = FirstHardwareIdOf(set, &devInfo, &allocated);
    if (!allocated) return false;
    if (HardwareIdMatches(id, pattern)) return ReadInterfaceDetail(device, set, &ifData);
  }
  return false;
}

}  // namespace

bool HidPortFind(HidPortDevice* device, const std::string& pattern) {
  HDEVINFO set = SetupDiGetClassDevsA(&kHidInterfaceClass, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return false;
  const bool found = SearchInterfaces(device, set, pattern);
  SetupDiDestroyDeviceInfoList(set);
  return found;
}

namespace {

// An open counts when the system reports no error for it; a handle that came back anyway is
// closed so that it cannot leak.
bool OpenPath(HidPortDevice* device, DWORD access, HANDLE* handle) {
  if (device->interfaceDetail == nullptr) return false;
  SetLastError(0);
  *handle = CreateFileA(device->interfaceDetail->DevicePath, access,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  const DWORD error = GetLastError();
  if (error == 0 && *handle != INVALID_HANDLE_VALUE) return true;
  if (*handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
  *handle = INVALID_HANDLE_VALUE;
  return false;
}

void CloseIfOpen(HANDLE* handle) {
  if (*handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
  *handle = INVALID_HANDLE_VALUE;
}

// Waits for a transfer the system left pending. One still pending after the time-out is
// cancelled and waited for, so the system never writes into a block that has gone away.
bool FinishPending(HANDLE handle, OVERLAPPED* overlapped) {
  WaitForSingleObject(overlapped->hEvent, kTransferTimeoutMs);
  if (overlapped->Internal != kStatusPending) return true;
  CancelIo(handle);
  DWORD count = 0;
  GetOverlappedResult(handle, overlapped, &count, TRUE);
  return false;
}

// Each transfer gets its own event: manual reset, created signalled, then reset.
HANDLE TransferEvent() {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (event != nullptr) ResetEvent(event);
  return event;
}

}  // namespace

bool HidPortOpenWrite(HidPortDevice* device) {
  return OpenPath(device, GENERIC_WRITE, &device->writeHandle);
}

bool HidPortOpenRead(HidPortDevice* device) {
  return OpenPath(device, GENERIC_READ, &device->readHandle);
}

void HidPortCloseWrite(HidPortDevice* device) { CloseIfOpen(&device->writeHandle); }

void HidPortCloseRead(HidPortDevice* device) { CloseIfOpen(&device->readHandle); }

bool HidPortWrite(HidPortDevice* device, const uint8_t (&block)[kReportBlock]) {
  OVERLAPPED overlapped;
  std::memset(&overlapped, 0, sizeof overlapped);
  overlapped.hEvent = TransferEvent();
  if (overlapped.hEvent == nullptr) return false;
  DWORD count = 0;
  bool done = WriteFile(device->writeHandle, block, kReportBlock, &count, &overlapped) != FALSE;
  if (!done && GetLastError() == ERROR_IO_PENDING) {
    done = FinishPending(device->writeHandle, &overlapped);
  }
  CloseHandle(overlapped.hEvent);
  return done;
}

bool HidPortRead(HidPortDevice* device, uint8_t (&block)[kReportBlock]) {
  OVERLAPPED overlapped;
  std::memset(&overlapped, 0, sizeof overlapped);
  overlapped.hEvent = TransferEvent();
  if (overlapped.hEvent == nullptr) return false;
  block[0] = 0x00;
  DWORD count = 0;
  bool done = ReadFile(device->readHandle, block, kReportBlock, &count, &overlapped) != FALSE;
  if (!done && GetLastError() == ERROR_IO_PENDING) {
    done = FinishPending(device->readHandle, &overlapped);
  }
  CloseHandle(overlapped.hEvent);
  return done;
}

}  // namespace qs71
