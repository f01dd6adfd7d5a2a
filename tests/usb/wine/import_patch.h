#pragma once

#include <windows.h>

namespace qs71::wine {

// Points one entry of a loaded module's import table at a replacement, so that the module's
// calls of that system function reach the replacement instead. False when the module does not
// import it from that DLL.
bool PatchImport(HMODULE module, const char* dll, const char* function, void* replacement);

}  // namespace qs71::wine
