// The library's kernel calls around a transfer, watched and passed on. Nothing is faked here
// but the passage of time: a wait on a transfer that the programmer will never complete is
// told at once that its ten seconds are up, and only if it asked for ten seconds.
#include "kernel_hooks.h"

#include <cstring>
#include <set>

#include "import_patch.h"

namespace qs71::wine {

namespace {

constexpr DWORD kTransferTimeoutMs = 10000;

struct Watch {
  PipeProgrammer* programmer = nullptr;
  std::set<HANDLE> programmerHandles;
  std::set<HANDLE> descriptionHandles;  // opened without access, to ask the device about itself
  std::set<HANDLE> transferEvents;
  TransferRecord record;
};

Watch& State() {
  static Watch watch;
  return watch;
}

// Bookkeeping must not disturb the last-error value the library reads next.
class KeepLastError {
 public:
  KeepLastError() : error(GetLastError()) {}
  ~KeepLastError() { SetLastError(error); }

 private:
  DWORD error;
};

bool IsProgrammerPath(LPCSTR name) {
  return State().programmer != nullptr && name != nullptr && State().programmer->Path() == name;
}

// A handle without FILE_FLAG_OVERLAPPED is refused: on it a read of a silent programmer
// would never return, and the check would hang instead of failing.
// An open without access rights only asks the device about itself (the listing): the pipe
// programmer has no instance for it, so it gets a handle of its own that the HID class
// driver's fakes below answer on.
HANDLE WINAPI HookCreateFileA(LPCSTR name, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile) {
  if (!IsProgrammerPath(name)) {
    return CreateFileA(name, access, share, security, disposition, flags, templateFile);
  }
  if (access == 0) {
    HANDLE handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    KeepLastError keep;
    if (handle != nullptr) State().descriptionHandles.insert(handle);
    return handle != nullptr ? handle : INVALID_HANDLE_VALUE;
  }
  if ((flags & FILE_FLAG_OVERLAPPED) == 0) {
    State().record.violations += "a handle opened without FILE_FLAG_OVERLAPPED\n";
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  State().programmer->AwaitListening();
  HANDLE handle = CreateFileA(name, access, share, security, disposition, flags, templateFile);
  KeepLastError keep;
  if (handle != INVALID_HANDLE_VALUE) {
    State().programmerHandles.insert(handle);
    ++State().record.opens;
  }
  return handle;
}

HANDLE WINAPI HookCreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manualReset,
                               BOOL initialState, LPCSTR name) {
  HANDLE event = CreateEventA(security, manualReset, initialState, name);
  KeepLastError keep;
  if (event != nullptr) State().transferEvents.insert(event);
  return event;
}

BOOL WINAPI HookWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written,
                          LPOVERLAPPED overlapped) {
  const BOOL done = WriteFile(file, buffer, size, written, overlapped);
  KeepLastError keep;
  const bool started = done || GetLastError() == ERROR_IO_PENDING;
  if (started && State().programmerHandles.count(file) != 0) State().programmer->AwaitHandled();
  return done;
}

DWORD WINAPI HookWaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  if (State().transferEvents.count(handle) == 0) return WaitForSingleObject(handle, milliseconds);
  if (WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) return WAIT_OBJECT_0;
  PipeProgrammer* programmer = State().programmer;
  if (programmer != nullptr && programmer->PullIfArmed()) {
    return WaitForSingleObject(handle, milliseconds);
  }
  if (milliseconds != kTransferTimeoutMs) {
    State().record.violations +=
        "waited " + std::to_string(milliseconds) + " ms on a transfer that never ends\n";
  }
  ++State().record.timeouts;
  return WAIT_TIMEOUT;
}

BOOL WINAPI HookCancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
  ++State().record.cancels;
  return CancelIoEx(file, overlapped);
}

BOOLEAN WINAPI FakeGetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
  if (State().descriptionHandles.count(handle) == 0 || attributes->Size != sizeof *attributes) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  attributes->VendorID = 0x04D8;
  attributes->ProductID = 0xFE08;
  attributes->VersionNumber = 0x0101;
  return TRUE;
}

BOOLEAN WINAPI FakeGetSerialNumberString(HANDLE handle, PVOID buffer, ULONG length) {
  const wchar_t serial[] = L"QS71-\x00C4-7";  // one character beyond ASCII
  if (State().descriptionHandles.count(handle) == 0 || length < sizeof serial) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::memcpy(buffer, serial, sizeof serial);
  return TRUE;
}

BOOL WINAPI HookCloseHandle(HANDLE handle) {
  State().descriptionHandles.erase(handle);
  if (State().programmerHandles.erase(handle) != 0) ++State().record.closes;
  State().transferEvents.erase(handle);
  return CloseHandle(handle);
}

struct Hook {
  const char* name;
  void* function;
  bool required;  // a DLL without CancelIoEx is still checked, and fails its time-out rows
};

const Hook kHooks[] = {
    {"CreateFileA", reinterpret_cast<void*>(&HookCreateFileA), true},
    {"CreateEventA", reinterpret_cast<void*>(&HookCreateEventA), true},
    {"WriteFile", reinterpret_cast<void*>(&HookWriteFile), true},
    {"WaitForSingleObject", reinterpret_cast<void*>(&HookWaitForSingleObject), true},
    {"CancelIoEx", reinterpret_cast<void*>(&HookCancelIoEx), false},
    {"CloseHandle", reinterpret_cast<void*>(&HookCloseHandle), true},
};

}  // namespace

bool PatchKernelCalls(HMODULE module) {
  for (const Hook& hook : kHooks) {
    const bool patched = PatchImport(module, "kernel32.dll", hook.name, hook.function);
    if (hook.required && !patched) return false;
  }
  return PatchImport(module, "hid.dll", "HidD_GetAttributes",
                     reinterpret_cast<void*>(&FakeGetAttributes)) &&
         PatchImport(module, "hid.dll", "HidD_GetSerialNumberString",
                     reinterpret_cast<void*>(&FakeGetSerialNumberString));
}

int DescriptionHandlesOpen() { return static_cast<int>(State().descriptionHandles.size()); }

void WatchTransfers(PipeProgrammer* programmer) {
  State() = Watch();
  State().programmer = programmer;
}

void StopWatching() { State().programmer = nullptr; }

const TransferRecord& Transfers() { return State().record; }

}  // namespace qs71::wine
