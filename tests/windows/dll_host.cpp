// A Windows host, built with the same cross compiler as the library: it loads the DLL with
// LoadLibrary, finds Qs71UsbWriter by its plain name with GetProcAddress and calls it, as a
// host program on a production bench would.
//
//   qs71_dll_host absent  LIBRARY              no programmer: -20, both messages, otpSize untouched
//   qs71_dll_host program LIBRARY IMAGE        blank check, write and verify: 0
// Exit code 0 when everything came out as expected; the reasons for a failure are printed.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "qs71_usb_writer.h"

namespace {

int g_failures = 0;

void Expect(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

Qs71UsbWriterFunction Load(const char* path) {
  HMODULE library = LoadLibraryA(path);
  Expect(library != nullptr, "LoadLibrary finds the DLL");
  if (library == nullptr) return nullptr;
  // The export carries no decoration: neither a leading underscore nor a "@48" suffix.
  Expect(GetProcAddress(library, "_Qs71UsbWriter@48") == nullptr, "no stdcall-decorated name");
  FARPROC entry = GetProcAddress(library, "Qs71UsbWriter");
  Expect(entry != nullptr, "GetProcAddress finds Qs71UsbWriter by its plain name");
  // GetProcAddress hands every export back as the same generic pointer type; going through
  // void* is how a host turns it into the function's real type.
  return reinterpret_cast<Qs71UsbWriterFunction>(reinterpret_cast<void*>(entry));
}

int Absent(Qs71UsbWriterFunction writer) {
  int32_t stage = 7, progress = 7, otpSize = 12345;
  int32_t result = writer(&stage, &progress, &otpSize, 1, 5.0, 0, 5.5, 6.5, 0, 5.0, 0, nullptr);
  std::printf("result %d, stage %d, progress %d, otpSize %d\n", result, stage, progress, otpSize);
  Expect(result == -20, "no programmer gives -20");
  Expect(otpSize == 12345, "otpSize is left untouched");
  Expect(stage == 0 && progress == 0, "stage and progress are reset");
  return g_failures;
}

int Program(Qs71UsbWriterFunction writer, const char* image) {
  int32_t stage = 7, progress = 7, otpSize = 0;
  int32_t result = writer(&stage, &progress, &otpSize, 1, 5.0, 1, 5.5, 6.5, 1, 5.0, 0, image);
  std::printf("result %d, stage %d, progress %d, otpSize %d\n", result, stage, progress, otpSize);
  Expect(result == 0, "blank check, write and verify succeed");
  Expect(otpSize == 262144 && progress == 262143, "size and last progress of a 256 KB part");
  return g_failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::printf("usage: qs71_dll_host absent|program LIBRARY [IMAGE]\n");
    return 2;
  }
  Qs71UsbWriterFunction writer = Load(argv[2]);
  if (writer == nullptr) return 1;
  if (std::strcmp(argv[1], "absent") == 0) return Absent(writer) == 0 ? 0 : 1;
  if (std::strcmp(argv[1], "program") == 0 && argc > 3) return Program(writer, argv[3]) == 0 ? 0 : 1;
  std::printf("unknown mode %s\n", argv[1]);
  return 2;
}
