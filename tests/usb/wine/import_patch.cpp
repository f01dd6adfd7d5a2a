#include "import_patch.h"

#include <cstdint>
#include <cstring>

namespace qs71::wine {

namespace {

template <typename T>
T* At(HMODULE module, DWORD rva) {
  return reinterpret_cast<T*>(reinterpret_cast<uint8_t*>(module) + rva);
}

IMAGE_IMPORT_DESCRIPTOR* ImportsOf(HMODULE module) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  const auto* nt = At<IMAGE_NT_HEADERS>(module, dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  return imports.VirtualAddress == 0 ? nullptr
                                     : At<IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress);
}

// The import table's slot is in a page the loader may have made read-only again.
void Replace(ULONG_PTR* slot, void* replacement) {
  DWORD previous = 0;
  VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous);
  *slot = reinterpret_cast<ULONG_PTR>(replacement);
  VirtualProtect(slot, sizeof *slot, previous, &previous);
}

bool PatchIn(HMODULE module, IMAGE_IMPORT_DESCRIPTOR* from, const char* function,
             void* replacement) {
  auto* names = At<IMAGE_THUNK_DATA>(module, from->OriginalFirstThunk);
  auto* slots = At<IMAGE_THUNK_DATA>(module, from->FirstThunk);
  for (; names->u1.AddressOfData != 0; ++names, ++slots) {
    if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
    const DWORD nameAt = static_cast<DWORD>(names->u1.AddressOfData);
    const auto* byName = At<IMAGE_IMPORT_BY_NAME>(module, nameAt);
    if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
    Replace(&slots->u1.Function, replacement);
    return true;
  }
  return false;
}

}  // namespace

bool PatchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
  IMAGE_IMPORT_DESCRIPTOR* descriptor = ImportsOf(module);
  for (; descriptor != nullptr && descriptor->Name != 0; ++descriptor) {
    if (_stricmp(At<const char>(module, descriptor->Name), dll) != 0) continue;
    if (PatchIn(module, descriptor, function, replacement)) return true;
  }
  return false;
}

}  // namespace qs71::wine
