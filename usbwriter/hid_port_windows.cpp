// Windows: the programmer through SetupAPI (finding it among the HID interfaces), the HID
// class driver's calls (what a listed device says of itself) and the kernel's file calls (one
// handle per direction, 65-byte reports). Every call works on its own device-information set
// and handles, so calls on different programmers may run on different threads.
#include "hid_port.h"

// windows.h must come before setupapi.h and hidsdi.h.
#include <windows.h>
#include <sddl.h>
#include <setupapi.h>
// MinGW's hidsdi.h declares the HID class driver's calls without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "ascii_case.h"
#include "file_system.h"  // LastSystemError
#include "hardware_id.h"
#include "qs71_usb_writer.h"
#include "sha256.h"

namespace qs71 {

namespace {

// The HID device-interface class.
const GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// A bound on the search, so that a broken enumeration cannot hold the host forever.
constexpr DWORD kMaxInterfaceIndex = 10000000;
// The longest device instance ID (cfgmgr32.h's MAX_DEVICE_ID_LEN), without its NUL.
constexpr DWORD kLongestInstanceId = 200;

}  // namespace

struct HidPortDevice {
  SP_DEVICE_INTERFACE_DETAIL_DATA_A* interfaceDetail = nullptr;
  HidPortInfo found;
  HANDLE writeHandle = INVALID_HANDLE_VALUE;
  HANDLE readHandle = INVALID_HANDLE_VALUE;
  HeldShares holds;
};

HidPortDevice* HidPortCreate() { return new HidPortDevice(); }

void HidPortDestroy(HidPortDevice* device) {
  if (device == nullptr) return;
  HidPortCloseWrite(device);
  HidPortCloseRead(device);
  device->holds.clear();
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

// What one interface of the set yields: its detail (the device path) and its device.
struct InterfaceDetail {
  SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail = nullptr;
  SP_DEVINFO_DATA devInfo{};
  bool outOfMemory = false;
};

// The smallest detail that can hold a path: the fixed part and one character.
constexpr DWORD kSmallestDetail = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + 1;

// A device can leave between the enumeration and these calls: the size query then gives
// nothing and the read fails. Such an interface yields no detail. The buffer has a spare,
// zeroed byte, so the path ends in a NUL whatever the system wrote. The device comes from
// the detail call itself, so it is the interface's own whatever the set's order.
InterfaceDetail ReadInterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* ifData) {
  InterfaceDetail found;
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailA(set, ifData, nullptr, 0, &required, nullptr);
  if (required < kSmallestDetail) return found;
  auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, required + 1));
  found.outOfMemory = detail == nullptr;
  if (detail == nullptr) return found;
  // The fixed part only: 5 bytes on 32-bit Windows, 8 on 64-bit.
#if defined(_WIN32) && !defined(_WIN64)
  static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "packed as on 32-bit Windows");
#endif
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  found.devInfo.cbSize = sizeof found.devInfo;
  if (!SetupDiGetDeviceInterfaceDetailA(set, ifData, detail, required, nullptr, &found.devInfo)) {
    std::free(detail);
    return found;
  }
  found.detail = detail;
  return found;
}

// The interface at this index; false at the end of the list. A stale ERROR_NO_MORE_ITEMS
// from an earlier call must not end the search, hence the clearing.
bool EnumInterface(HDEVINFO set, DWORD index, SP_DEVICE_INTERFACE_DATA* ifData) {
  ifData->cbSize = sizeof *ifData;
  SetLastError(0);
  return SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceClass, index, ifData) &&
         GetLastError() != ERROR_NO_MORE_ITEMS;
}

// The device instance ID ("HID\\VID_04D8&PID_FE08\\7&2A1B3C4D&0&0000"): the device's own
// identity, which Windows gives each device it knows and keeps while it is attached. Empty
// when the device left before it could be asked.
std::string InstanceIdOf(HDEVINFO set, SP_DEVINFO_DATA* devInfo) {
  char id[kLongestInstanceId + 1];
  std::memset(id, 0, sizeof id);
  if (!SetupDiGetDeviceInstanceIdA(set, devInfo, id, sizeof id - 1, nullptr)) return "";
  return id;
}

// Walks the set, handing each interface whose first hardware ID carries the pattern to take
// with its device's instance ID; take keeps the detail by returning true (and then owns it)
// and ends the walk by setting done. False when an allocation fails; the end of the list or
// of the index ends it quietly.
template <typename Take>
bool WalkInterfaces(HDEVINFO set, const std::string& pattern, Take take) {
  SP_DEVICE_INTERFACE_DATA ifData;
  bool done = false;
  for (DWORD index = 0;
       !done && index < kMaxInterfaceIndex && EnumInterface(set, index, &ifData); ++index) {
    InterfaceDetail found = ReadInterfaceDetail(set, &ifData);
    if (found.outOfMemory) return false;
    if (found.detail == nullptr) continue;
    bool allocated = false;
    const std::string id = FirstHardwareIdOf(set, &found.devInfo, &allocated);
    if (!allocated) {
      std::free(found.detail);
      return false;
    }
    if (!HardwareIdMatches(id, pattern) ||
        !take(found.detail, InstanceIdOf(set, &found.devInfo), done)) {
      std::free(found.detail);
    }
  }
  return true;
}

// The HID interfaces present, for one walk.
template <typename Walk>
bool WithHidInterfaces(Walk walk) {
  HDEVINFO set = SetupDiGetClassDevsA(&kHidInterfaceClass, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return false;
  const bool walked = walk(set);
  SetupDiDestroyDeviceInfoList(set);
  return walked;
}

// Device paths name the same device whatever their case.
bool SamePath(const char* a, const std::string& b) { return _stricmp(a, b.c_str()) == 0; }

std::string Utf8Of(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], size, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(size - 1));
  return utf8;
}

// What the device says of itself, through a handle without access rights: those open even
// while another program holds the device. A USB string holds at most 126 characters; a
// device without a serial leaves it empty. False when the device cannot be asked (it left).
bool Describe(const char* path, HidPortInfo& info) {
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  HIDD_ATTRIBUTES attributes;
  std::memset(&attributes, 0, sizeof attributes);
  attributes.Size = sizeof attributes;
  const bool described = HidD_GetAttributes(handle, &attributes) != FALSE;
  wchar_t serial[128];
  std::memset(serial, 0, sizeof serial);
  const bool hasSerial =
      described && HidD_GetSerialNumberString(handle, serial, sizeof serial - sizeof serial[0]);
  CloseHandle(handle);
  if (!described) return false;
  info.path = path;
  info.serial = hasSerial ? Utf8Of(serial) : std::string();
  info.release = attributes.VersionNumber;
  return true;
}

}  // namespace

bool HidPortList(const std::string& pattern, std::vector<HidPortInfo>& found) {
  found.clear();
  const bool listed = WithHidInterfaces([&](HDEVINFO set) {
    return WalkInterfaces(set, pattern, [&](SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                            const std::string& instance, bool&) {
      HidPortInfo info;
      info.node = instance;
      if (Describe(detail->DevicePath, info)) found.push_back(info);
      return false;
    });
  });
  std::sort(found.begin(), found.end(),
            [](const HidPortInfo& a, const HidPortInfo& b) { return a.path < b.path; });
  return listed;
}

// The device is described as the listing describes it: one that cannot be asked has left.
// The first programmer is the lowest path, so without a path the whole set is walked.
bool HidPortFind(HidPortDevice* device, const std::string& pattern, const std::string& path) {
  bool found = false;
  WithHidInterfaces([&](HDEVINFO set) {
    return WalkInterfaces(set, pattern, [&](SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                            const std::string& instance, bool& done) {
      const bool lower = path.empty() && (!found || device->found.path > detail->DevicePath);
      if (!lower && (path.empty() || !SamePath(detail->DevicePath, path))) return false;
      HidPortInfo info;
      info.node = instance;
      if (!Describe(detail->DevicePath, info)) return false;
      std::free(device->interfaceDetail);
      device->interfaceDetail = detail;
      device->found = info;
      found = true;
      done = !path.empty();
      return true;
    });
  });
  return found;
}

namespace {

// The hold is a named mutex in the Global\ namespace, which every session and user shares.
// The port's handles stay shared (FILE_SHARE_READ | FILE_SHARE_WRITE) as the programmer has
// always been opened, so the handles cannot be the hold. A mutex belongs to the thread that
// took it, and a host may take the hold on one thread and let go of it on another: a keeper
// thread of the hold's own takes it, and lets go when told.
constexpr char kMutexPrefix[] = "Global\\qs71-programmer-";
// Every user may wait on the mutex and release it, and no more: not change who may.
constexpr char kEveryoneMayTake[] = "D:(A;;0x00100001;;;WD)";

// Instance IDs and device paths name one device whatever their case; a kernel object's name
// holds no backslash beyond its namespace, nor more than MAX_PATH characters.
std::string MutexName(const std::string& device) {
  std::string key = AsciiLowerCopy(device);
  std::replace(key.begin(), key.end(), '\\', '/');
  if (sizeof kMutexPrefix + key.size() > MAX_PATH) {
    key = Sha256Hex(key.data(), key.size());
  }
  return kMutexPrefix + key;
}

class MutexKeeper : public SystemHold {
 public:
  explicit MutexKeeper(HANDLE heldMutex) : mutex(heldMutex) {}
  ~MutexKeeper() override {
    if (thread != nullptr) {
      ReleaseSemaphore(letGo, 1, nullptr);
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
    if (letGo != nullptr) CloseHandle(letGo);
    if (ready != nullptr) CloseHandle(ready);
    CloseHandle(mutex);
  }

  // False when the thread could not be started; taken tells whether the mutex was free (or
  // abandoned by a holder that ended without letting go, which is taken over). The keeper
  // and its owner signal each other through semaphores: one signal each way, and nothing of
  // the transfers' events.
  bool Start() {
    letGo = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    ready = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    if (letGo == nullptr || ready == nullptr) return false;
    thread = CreateThread(nullptr, 0, &MutexKeeper::Keep, this, 0, nullptr);
    if (thread == nullptr) return false;
    WaitForSingleObject(ready, INFINITE);
    return true;
  }
  bool Taken() const { return taken; }

 private:
  static DWORD WINAPI Keep(void* self) {
    MutexKeeper& keeper = *static_cast<MutexKeeper*>(self);
    const DWORD waited = WaitForSingleObject(keeper.mutex, 0);
    keeper.taken = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    ReleaseSemaphore(keeper.ready, 1, nullptr);
    if (!keeper.taken) return 0;
    WaitForSingleObject(keeper.letGo, INFINITE);
    ReleaseMutex(keeper.mutex);
    return 0;
  }

  HANDLE mutex;
  HANDLE letGo = nullptr;
  HANDLE ready = nullptr;
  HANDLE thread = nullptr;
  bool taken = false;
};

HANDLE OpenHoldMutex(const std::string& name) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kEveryoneMayTake, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const HANDLE mutex =
      CreateMutexExA(&attributes, name.c_str(), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
  const DWORD error = GetLastError();
  LocalFree(descriptor);
  SetLastError(error);
  return mutex;
}

// Windows does not name the process that holds a mutex. A mutex another user made and this
// one may not open is one that is held.
HoldResult TakeMutex(const std::string& name, std::unique_ptr<SystemHold>& made) {
  const HANDLE mutex = OpenHoldMutex(name);
  if (mutex == nullptr) {
    if (GetLastError() == ERROR_ACCESS_DENIED) return HoldResult{QS71_E_BUSY, "another process"};
    return HoldResult{QS71_E_HOLD, name + ": " + LastSystemError()};
  }
  auto keeper = std::make_unique<MutexKeeper>(mutex);
  if (!keeper->Start()) return HoldResult{QS71_E_HOLD, name + ": " + LastSystemError()};
  if (!keeper->Taken()) return HoldResult{QS71_E_BUSY, "another process"};
  made = std::move(keeper);
  return HoldResult{};
}

}  // namespace

// The mutex is named after the device's instance ID, the node's own identity, so that every
// spelling of its path meets one hold; a device whose instance could not be read is held by
// its path.
HoldResult HidPortHold(HidPortDevice* device) {
  if (device->interfaceDetail == nullptr) return HoldResult{QS71_E_TRANSPORT, "not found"};
  const std::string& node = device->found.node;
  const std::string name = MutexName(node.empty() ? device->found.path : node);
  return HoldKey(
      "mutex " + name, [&](std::unique_ptr<SystemHold>& made) { return TakeMutex(name, made); },
      device->holds);
}

HidPortInfo HidPortFound(const HidPortDevice* device) { return device->found; }

// The path leads to the instance it was listed for; what could still differ is the device
// behind it, asked again now that the handles are open.
bool HidPortConfirm(HidPortDevice* device) {
  HidPortInfo now;
  return Describe(device->found.path.c_str(), now) && now.serial == device->found.serial;
}

HeldShares HidPortKeepHold(HidPortDevice* device) { return std::exchange(device->holds, {}); }

// Windows does not fork.
void HidPortLockForFork() {}
void HidPortUnlockAfterFork() {}

void HidPortAnnounceJob(HidPortDevice*, PartUse) {}

namespace {

// An open counts when the system reports no error for it; a handle that came back anyway is
// closed so that it cannot leak. Overlapped handles, because only a transfer the system
// hands back pending can be given up after the ten seconds: on a plain handle ReadFile waits
// for as long as the programmer keeps silent.
bool OpenPath(HidPortDevice* device, DWORD access, HANDLE* handle) {
  if (device->interfaceDetail == nullptr) return false;
  SetLastError(0);
  *handle = CreateFileA(device->interfaceDetail->DevicePath, access,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED, nullptr);
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

// Waits up to the time-out for a transfer that has started. One still running then is
// cancelled and waited for, so the system never writes into a block that has gone away.
// A transfer that ended with an error (the programmer unplugged, the read cancelled) or
// moved less than a whole report is a failure, not a zero-filled success.
bool Complete(HANDLE handle, OVERLAPPED* overlapped) {
  DWORD count = 0;
  if (WaitForSingleObject(overlapped->hEvent, kTransferTimeoutMs) != WAIT_OBJECT_0) {
    CancelIoEx(handle, overlapped);
    GetOverlappedResult(handle, overlapped, &count, TRUE);
    return false;
  }
  return GetOverlappedResult(handle, overlapped, &count, FALSE) && count == kReportBlock;
}

// Each transfer gets its own event: manual reset, created signalled, then reset.
HANDLE TransferEvent() {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (event != nullptr) ResetEvent(event);
  return event;
}

// One 65-byte report either way: start is WriteFile or ReadFile. On an overlapped handle the
// system signals the event also when it finishes at once, so both outcomes end in the wait.
template <typename Start>
bool Transfer(HANDLE handle, Start start) {
  OVERLAPPED overlapped;
  std::memset(&overlapped, 0, sizeof overlapped);
  overlapped.hEvent = TransferEvent();
  if (overlapped.hEvent == nullptr) return false;
  const bool done = (start(&overlapped) != FALSE || GetLastError() == ERROR_IO_PENDING) &&
                    Complete(handle, &overlapped);
  CloseHandle(overlapped.hEvent);
  return done;
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
  HANDLE handle = device->writeHandle;
  return Transfer(handle, [&](OVERLAPPED* overlapped) {
    return WriteFile(handle, block, kReportBlock, nullptr, overlapped);
  });
}

bool HidPortRead(HidPortDevice* device, uint8_t (&block)[kReportBlock]) {
  block[0] = 0x00;
  HANDLE handle = device->readHandle;
  return Transfer(handle, [&](OVERLAPPED* overlapped) {
    return ReadFile(handle, block, kReportBlock, nullptr, overlapped);
  });
}

}  // namespace qs71
