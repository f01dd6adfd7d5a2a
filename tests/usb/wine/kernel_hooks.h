#pragma once

#include <windows.h>
#include <hidsdi.h>

#include <cstdint>
#include <string>

#include "pipe_programmer.h"

namespace qs71::wine {

// What the library's own kernel calls showed during one call.
struct TransferRecord {
  uint32_t opens = 0;     // handles opened on the programmer's path
  uint32_t closes = 0;    // of those, closed again
  uint32_t timeouts = 0;  // waits on a transfer that would never end, told so at once
  uint32_t cancels = 0;   // CancelIoEx calls
  std::string violations;
};

// Points the module's CreateFileA, CreateEventA, WriteFile, WaitForSingleObject, CancelIoEx
// and CloseHandle at hooks that watch the programmer's transfers and pass every call on to
// the system, and its HidD_GetAttributes and HidD_GetSerialNumberString at fakes that
// describe the programmer (release 0x0101, serial "QS71-\u00C4-7"); false when one of them
// but CancelIoEx is not imported.
bool PatchKernelCalls(HMODULE module);
// Handles opened to ask the programmer about itself and not yet closed.
int DescriptionHandlesOpen();
// The programmer the hooks work with during the next call, the record cleared.
void WatchTransfers(PipeProgrammer* programmer);
// After the call: the record stays for reading.
void StopWatching();
const TransferRecord& Transfers();

}  // namespace qs71::wine
