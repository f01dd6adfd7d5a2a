// SetupAPI as the library uses it, over a bus that the check lays out. A real set can change
// under the caller at any time; these fakes make it change at the awkward moments.
#include "fake_setupapi.h"

#include <setupapi.h>

#include <cstddef>
#include <cstring>

#include "import_patch.h"

namespace qs71::wine {

namespace {

struct FakeBus {
  std::vector<BusEntry> entries;
  std::string programmerPath;
  int setsOpen = 0;
};

FakeBus& Bus() {
  static FakeBus bus;
  return bus;
}

HDEVINFO const kFakeSet = reinterpret_cast<HDEVINFO>(static_cast<intptr_t>(0x5e7));

// Interfaces are numbered from 1 in the fields the system keeps for itself.
const BusEntry* EntryAt(ULONG_PTR number) {
  const std::vector<BusEntry>& entries = Bus().entries;
  return number >= 1 && number <= entries.size() ? &entries[number - 1] : nullptr;
}

std::string PathOf(ULONG_PTR number) {
  if (EntryAt(number)->programmer && EntryAt(number)->presence == Presence::kPresent) {
    return Bus().programmerPath;
  }
  return "\\\\.\\pipe\\qs71-nothing-" + std::to_string(number);
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// A successful call may leave any last-error value; this one leaves the one that would end
// a search that trusts it.
HDEVINFO WINAPI GetClassDevs(const GUID*, PCSTR, HWND, DWORD flags) {
  if (flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) return INVALID_HANDLE_VALUE;
  ++Bus().setsOpen;
  SetLastError(ERROR_NO_MORE_ITEMS);
  return kFakeSet;
}

BOOL WINAPI EnumInterfaces(HDEVINFO set, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                           PSP_DEVICE_INTERFACE_DATA data) {
  if (set != kFakeSet || data == nullptr || data->cbSize != sizeof *data) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (index >= Bus().entries.size()) return Fail(ERROR_NO_MORE_ITEMS);
  data->Flags = SPINT_ACTIVE;
  data->Reserved = index + 1;
  return TRUE;
}

BOOL WINAPI InterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                            PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                            PDWORD required, PSP_DEVINFO_DATA devInfo) {
  const BusEntry* entry = set == kFakeSet && data != nullptr ? EntryAt(data->Reserved) : nullptr;
  if (entry == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (entry->presence == Presence::kGoneBeforeDetail) return Fail(ERROR_NO_SUCH_DEVINST);
  const std::string path = PathOf(data->Reserved);
  const DWORD need = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1;
  if (required != nullptr) *required = need;
  if (detail == nullptr) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (detail->cbSize != sizeof *detail) return Fail(ERROR_INVALID_USER_BUFFER);
  if (entry->presence == Presence::kGoneDuringDetail) return Fail(ERROR_NO_SUCH_DEVINST);
  if (size < need) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
  if (devInfo != nullptr) {
    if (devInfo->cbSize != sizeof *devInfo) return Fail(ERROR_INVALID_USER_BUFFER);
    devInfo->DevInst = static_cast<DWORD>(data->Reserved);
  }
  return TRUE;
}

// The hardware-ID list as the registry holds it: NUL after each string, one more at the end.
std::string MultiString(const char* ids) {
  std::string list = ids;
  for (char& c : list) {
    if (c == '|') c = '\0';
  }
  return list + std::string(2, '\0');
}

BOOL WINAPI RegistryProperty(HDEVINFO set, PSP_DEVINFO_DATA devInfo, DWORD property,
                             PDWORD type, PBYTE buffer, DWORD size, PDWORD required) {
  const BusEntry* entry = set == kFakeSet && devInfo != nullptr ? EntryAt(devInfo->DevInst)
                                                                 : nullptr;
  if (entry == nullptr || property != SPDRP_HARDWAREID) return Fail(ERROR_INVALID_DATA);
  const std::string list = MultiString(entry->hardwareIds);
  if (type != nullptr) *type = REG_MULTI_SZ;
  if (required != nullptr) *required = static_cast<DWORD>(list.size());
  if (buffer == nullptr || size < list.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, list.data(), list.size());
  return TRUE;
}

// Each interface's device has an instance ID of its own, as a real bus gives each device.
BOOL WINAPI InstanceId(HDEVINFO set, PSP_DEVINFO_DATA devInfo, PSTR buffer, DWORD size,
                       PDWORD required) {
  const BusEntry* entry = set == kFakeSet && devInfo != nullptr ? EntryAt(devInfo->DevInst)
                                                                 : nullptr;
  if (entry == nullptr) return Fail(ERROR_NO_SUCH_DEVINST);
  const std::string id = "HID\\VID_04D8&PID_FE08\\7&FAKE&0&" + std::to_string(devInfo->DevInst);
  if (required != nullptr) *required = static_cast<DWORD>(id.size() + 1);
  if (buffer == nullptr || size < id.size() + 1) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, id.c_str(), id.size() + 1);
  return TRUE;
}

BOOL WINAPI DestroyList(HDEVINFO set) {
  if (set != kFakeSet) return Fail(ERROR_INVALID_HANDLE);
  --Bus().setsOpen;
  return TRUE;
}

struct Fake {
  const char* name;
  void* function;
};

const Fake kFakes[] = {
    {"SetupDiGetClassDevsA", reinterpret_cast<void*>(&GetClassDevs)},
    {"SetupDiEnumDeviceInterfaces", reinterpret_cast<void*>(&EnumInterfaces)},
    {"SetupDiGetDeviceInterfaceDetailA", reinterpret_cast<void*>(&InterfaceDetail)},
    {"SetupDiGetDeviceRegistryPropertyA", reinterpret_cast<void*>(&RegistryProperty)},
    {"SetupDiGetDeviceInstanceIdA", reinterpret_cast<void*>(&InstanceId)},
    {"SetupDiDestroyDeviceInfoList", reinterpret_cast<void*>(&DestroyList)},
};

}  // namespace

void SetFakeBus(const std::vector<BusEntry>& entries, const std::string& pipePath) {
  Bus().entries = entries;
  Bus().programmerPath = pipePath;
  Bus().setsOpen = 0;
}

int FakeSetsOpen() { return Bus().setsOpen; }

bool PatchSetupApi(HMODULE module) {
  for (const Fake& fake : kFakes) {
    if (!PatchImport(module, "setupapi.dll", fake.name, fake.function)) return false;
  }
  return true;
}

}  // namespace qs71::wine
