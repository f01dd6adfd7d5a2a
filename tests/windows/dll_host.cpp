// A Windows host, built with the same cross compiler as the library: it loads the DLL with
// LoadLibrary, finds Qs71UsbWriter and Qs71UsbVerifyRange (and the calls for several
// programmers and the job calls) by their plain names with GetProcAddress and calls them, as a
// host program on a production bench would.
//
//   qs71_dll_host absent  LIBRARY              no programmer: -20, both messages, otpSize
//                                              untouched, none listed; the job calls' result
//   qs71_dll_host program LIBRARY IMAGE        blank check, write and verify: 0; then ranges
//                                              of the fresh part compared with IMAGE and blank;
//                                              the same through the job calls with IMAGE's bytes
// Exit code 0 when everything came out as expected; the reasons for a failure are printed.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qs71_usb_writer_binding.h"

namespace {

int g_failures = 0;

void Expect(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

// The names a stdcall build would have given the library's calls.
struct Decorated {
  const char* plain;
  const char* stdcallName;
};

constexpr Decorated kDecorated[] = {
    {"Qs71UsbWriter", "_Qs71UsbWriter@48"},
    {"Qs71UsbVerifyRange", "_Qs71UsbVerifyRange@24"},
    {"Qs71UsbListProgrammers", "_Qs71UsbListProgrammers@8"},
    {"Qs71UsbWriterOn", "_Qs71UsbWriterOn@60"},
    {"Qs71UsbVerifyRangeOn", "_Qs71UsbVerifyRangeOn@36"},
    {"Qs71UsbJob", "_Qs71UsbJob@8"},
    {"Qs71UsbCompareRange", "_Qs71UsbCompareRange@8"},
    {"Qs71UsbHold", "_Qs71UsbHold@12"},
    {"Qs71UsbRelease", "_Qs71UsbRelease@4"},
};

// Each of the library's calls is exported by its plain name, without decoration: neither a
// leading underscore nor an "@N" suffix. The emulator's control calls, which the binding asks
// for as well, are the emulated DLL's alone.
FARPROC Find(HMODULE library, const char* plain) {
  FARPROC entry = GetProcAddress(library, plain);
  for (const Decorated& call : kDecorated) {
    if (std::strcmp(call.plain, plain) != 0) continue;
    const std::string underscored = std::string("_") + plain;
    Expect(GetProcAddress(library, call.stdcallName) == nullptr, "no stdcall-decorated name");
    Expect(GetProcAddress(library, underscored.c_str()) == nullptr, "no underscored name");
    Expect(entry != nullptr, "GetProcAddress finds the export by its plain name");
  }
  return entry;
}

using Exports = qs71::WriterBinding;

Exports Load(const char* path) {
  HMODULE library = LoadLibraryA(path);
  Expect(library != nullptr, "LoadLibrary finds the DLL");
  Exports exports;
  if (library != nullptr) exports.Bind([&](const char* name) { return Find(library, name); });
  return exports;
}

// The requests of a host that holds the image in memory (empty: none).
Qs71JobRequest JobRequest(const std::vector<uint8_t>& image) {
  Qs71JobRequest request{};
  request.size = sizeof request;
  request.blankCheck = 1;
  request.write = request.verify = image.empty() ? 0 : 1;
  request.blankCheckVdd = request.verifyVdd = 5.0;
  request.writeVdd = 5.5;
  request.writeVpp = 6.5;
  request.image = image.empty() ? nullptr : image.data();
  request.imageLength = static_cast<uint32_t>(image.size());
  return request;
}

Qs71RangeRequest RangeRequest(uint32_t start, uint32_t length, const std::vector<uint8_t>& image) {
  Qs71RangeRequest request{};
  request.size = sizeof request;
  request.start = start;
  request.length = length;
  request.vdd = 5.0;
  request.image = image.empty() ? nullptr : image.data();
  request.imageLength = static_cast<uint32_t>(image.size());
  return request;
}

Qs71JobResult EmptyResult() {
  Qs71JobResult result{};
  result.size = sizeof result;
  return result;
}

int Absent(const Exports& exports) {
  Qs71UsbWriterFunction writer = exports.writer;
  int32_t stage = 7, progress = 7, otpSize = 12345;
  int32_t result = writer(&stage, &progress, &otpSize, 1, 5.0, 0, 5.5, 6.5, 0, 5.0, 0, nullptr);
  std::printf("result %d, stage %d, progress %d, otpSize %d\n", result, stage, progress, otpSize);
  Expect(result == -20, "no programmer gives -20");
  Expect(otpSize == 12345, "otpSize is left untouched");
  Expect(stage == 0 && progress == 0, "stage and progress are reset");
  otpSize = 12345;
  result = exports.verifyRange(&otpSize, 0, 256, 5.0, nullptr);
  std::printf("range result %d, otpSize %d\n", result, otpSize);
  Expect(result == -20 && otpSize == 12345, "no programmer: the range gives -20, otpSize untouched");
  Qs71ProgrammerInfo list[1] = {};
  Expect(exports.listProgrammers(list, 1) == 0, "no programmer is listed");
  result = exports.verifyRangeOn("\\\\?\\hid#none", nullptr, nullptr, &otpSize, 0, 256, 5.0,
                                 nullptr);
  Expect(result == -20, "a programmer not attached: the range gives -20");
  const Qs71JobRequest request = JobRequest({});
  Qs71JobResult job = EmptyResult();
  result = exports.job(&request, &job);
  std::printf("job result %d, failed step %d, otpSize %d\n", result, job.failedStep, job.otpSize);
  Expect(result == -20 && job.result == -20 && job.failedStep == QS71_STEP_OPEN &&
             job.otpSize == 0 && job.chipId[0] == 0xFF,
         "no programmer: the job call's result names the open");
  const Qs71RangeRequest range = RangeRequest(0, 256, {});
  Qs71JobResult compared = EmptyResult();
  Expect(exports.compareRange(&range, &compared) == -20 && compared.matched == 0,
         "no programmer: the range compare gives -20");
  return g_failures;
}

// Every call meets a fresh part: it is blank, and the image's first block is not on it.
int Ranges(Qs71UsbVerifyRangeFunction verifyRange, const char* image) {
  int32_t otpSize = 0;
  const int32_t blank = verifyRange(&otpSize, 0, 262144, 5.0, nullptr);
  const int32_t imaged = verifyRange(&otpSize, 0, 256, 5.0, image);
  const int32_t offGrid = verifyRange(&otpSize, 128, 256, 5.0, image);
  std::printf("range results %d %d %d, otpSize %d\n", blank, imaged, offGrid, otpSize);
  Expect(blank == 0 && otpSize == 262144, "a fresh part is blank from end to end");
  Expect(imaged == 1, "a fresh part differs from the image's first block");
  Expect(offGrid == -54, "a range off the 256-byte grid is refused");
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

// The job calls with the image's bytes: a fresh part takes them, and is blank before.
int JobCalls(const Exports& exports, const char* imageFile) {
  std::ifstream in(imageFile, std::ios::binary);
  const std::vector<uint8_t> image{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
  const Qs71RangeRequest blank = RangeRequest(0, 262144, {});
  const Qs71RangeRequest imaged = RangeRequest(0, 256, image);
  Qs71JobResult blankResult = EmptyResult(), imagedResult = EmptyResult();
  const int32_t blankCode = exports.compareRange(&blank, &blankResult);
  const int32_t imagedCode = exports.compareRange(&imaged, &imagedResult);
  std::printf("range compare results %d %d\n", blankCode, imagedCode);
  Expect(blankCode == 0 && blankResult.matched == 1, "the range compare: a fresh part is blank");
  Expect(imagedCode == 1 && imagedResult.matched == 0,
         "the range compare: a fresh part differs from the image's first block");
  const Qs71JobRequest request = JobRequest(image);
  Qs71JobResult result = EmptyResult();
  const int32_t code = exports.job(&request, &result);
  std::printf("job result %d, steps done 0x%02X, otpSize %d, progress %d\n", code,
              static_cast<unsigned>(result.stepsDone), result.otpSize, result.progress);
  const uint32_t done = 1u << QS71_STEP_OPEN | 1u << QS71_STEP_IDENTIFY |
                        1u << QS71_STEP_BLANK_CHECK | 1u << QS71_STEP_WRITE |
                        1u << QS71_STEP_VERIFY | 1u << QS71_STEP_STOP;
  Expect(code == 0 && result.stepsDone == done && result.failedStep == QS71_STEP_NONE,
         "the job call: blank check, write and verify of the bytes succeed");
  Expect(result.otpSize == 262144 && result.progress == 262143 && result.chipId[0] == 0x6D,
         "the job call: the part's ID, size and last progress");
  return g_failures;
}

int ProgramAndCompare(const Exports& exports, const char* image) {
  Program(exports.writer, image);
  Ranges(exports.verifyRange, image);
  return JobCalls(exports, image);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::printf("usage: qs71_dll_host absent|program LIBRARY [IMAGE]\n");
    return 2;
  }
  const Exports exports = Load(argv[2]);
  if (!exports.Complete()) return 1;
  if (std::strcmp(argv[1], "absent") == 0) return Absent(exports) == 0 ? 0 : 1;
  if (std::strcmp(argv[1], "program") == 0 && argc > 3) {
    return ProgramAndCompare(exports, argv[3]) == 0 ? 0 : 1;
  }
  std::printf("unknown mode %s\n", argv[1]);
  return 2;
}
