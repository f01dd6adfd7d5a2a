// A second host for the tests of the programmer's hold, run as a process of its own (and,
// through setpriv, as another user). It loads a build of the library by path, as any host
// does, and says on standard output what each call returned:
//
//   qs71_hold_helper LIBRARY hold PROGRAMMER [IMAGE]
//       "hold CODE WHY"; with IMAGE, one job (write and verify) on the held programmer,
//       "job CODE"; then waits: SIGUSR1 lets go ("release CODE"), SIGTERM ends it.
//   qs71_hold_helper LIBRARY job PROGRAMMER IMAGE
//       one job, "job CODE requests N" (the requests that reached the programmer in this
//       process, -1 where the programmer cannot tell), then the job's text.
//
// PROGRAMMER "-" is NULL, the first programmer found.
#include <dlfcn.h>
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qs71_usb_writer_binding.h"
#include "shared_library.h"
#include "standin_control.h"

namespace {

void QS71_CDECL Append(void* context, const char* text) {
  *static_cast<std::string*>(context) += text;
}

std::vector<uint8_t> ReadImage(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The hidapi stand-in counts what reached its programmer; the emulated build counts its own.
long Requests(const qs71::WriterBinding& calls) {
  if (calls.requestCount != nullptr) return static_cast<long>(calls.requestCount(-1));
  void* hidapi = dlopen("libhidapi-hidraw.so.0", RTLD_NOW | RTLD_NOLOAD);
  auto record = hidapi == nullptr ? nullptr
                                  : reinterpret_cast<Qs71StandinGetRecordFunction>(
                                        dlsym(hidapi, "Qs71StandinGetRecord"));
  if (record == nullptr) return -1;
  Qs71StandinRecord seen{};
  record(&seen);
  long total = 0;
  for (uint32_t count : seen.requests) total += count;
  return total;
}

int Job(const qs71::WriterBinding& calls, const char* programmer, const char* imagePath,
        std::string& text) {
  const std::vector<uint8_t> image = ReadImage(imagePath);
  Qs71JobRequest request{};
  request.size = sizeof request;
  request.programmer = programmer;
  request.write = request.verify = 1;
  request.writeVdd = 5.5;
  request.writeVpp = 6.5;
  request.verifyVdd = 5.0;
  request.image = image.data();
  request.imageLength = static_cast<uint32_t>(image.size());
  request.output = Append;
  request.context = &text;
  Qs71JobResult result{};
  result.size = sizeof result;
  return calls.job(&request, &result);
}

void WaitFor(int signal) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  int got = 0;
  sigwait(&set, &got);
}

int Hold(const qs71::WriterBinding& calls, const char* programmer, const char* image) {
  char why[256] = "";
  std::printf("hold %d %s\n", calls.hold(programmer, why, sizeof why), why);
  std::fflush(stdout);
  if (image != nullptr) {
    std::string text;
    std::printf("job %d\n", Job(calls, programmer, image, text));
    std::fflush(stdout);
  }
  WaitFor(SIGUSR1);
  std::printf("release %d\n", calls.release(programmer));
  std::fflush(stdout);
  WaitFor(SIGTERM);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  // Blocked before anything else, so that a signal sent early waits for its sigwait.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGTERM);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  SharedLibrary library;
  std::string error;
  if (!library.Open(argv[1], error)) {
    std::printf("load %s\n", error.c_str());
    return 2;
  }
  qs71::WriterBinding calls;
  calls.BindIn(library);
  if (!calls.Complete()) return 2;
  const char* programmer = std::strcmp(argv[3], "-") == 0 ? nullptr : argv[3];
  if (std::strcmp(argv[2], "hold") == 0) return Hold(calls, programmer, argc > 4 ? argv[4] : nullptr);
  if (std::strcmp(argv[2], "job") != 0 || argc < 5) return 2;
  std::string text;
  const int code = Job(calls, programmer, argv[4], text);
  std::printf("job %d requests %ld\n%s", code, Requests(calls), text.c_str());
  return 0;
}
