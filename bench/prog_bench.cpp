// Host overhead of the programmer library: one full job (blank check, write, verify) of an
// image on the emulated programmer, loaded at run time as a host loads the real library. The
// emulated programmer answers at once, so the time per report is what the host side (plus the
// emulated device) costs; a real full-speed programmer takes one 1 ms frame per report.
//
//   qs71_bench_prog LIBRARY IMAGE REPEATS
//
// The chip comes from QS71_EMU_ID as for any host. Prints "key value" lines: the result, the
// report counts of the last call, and the best and median wall time of the calls.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "shared_library.h"
#include "writer_exports.h"

namespace {

// The emulated library and its calls.
struct Library : qs71::test::WriterExports {
  SharedLibrary file;
};

bool Load(const char* path, Library* lib) {
  std::string error;
  if (!lib->file.Open(path, error)) {
    std::fprintf(stderr, "qs71_bench_prog: %s\n", error.c_str());
    return false;
  }
  lib->FindIn(lib->file);
  return lib->writer && lib->reset && lib->requestCount;
}

struct Call {
  int32_t result = 0;
  int32_t otpSize = 0;
  double seconds = 0;
};

// The library's progress lines would only time the terminal; they go to /dev/null while the
// call runs. Both the C stream and std::cout are flushed before standard output comes back.
Call RunJob(const Library& lib, const char* image) {
  std::fflush(stdout);
  std::cout.flush();
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  int32_t stage = 0, progress = 0;
  Call call;
  const auto start = std::chrono::steady_clock::now();
  call.result = lib.writer(&stage, &progress, &call.otpSize, 1, 5.0, 1, 5.5, 6.5, 1, 5.0, 0, image);
  const auto stop = std::chrono::steady_clock::now();
  std::fflush(stdout);
  std::cout.flush();
  dup2(saved, 1);
  close(saved);
  close(null);
  call.seconds = std::chrono::duration<double>(stop - start).count();
  return call;
}

void PrintCounts(const Library& lib) {
  std::printf("requests_total %u\n", lib.requestCount(-1));
  const int commands[] = {0x74, 0x7A, 0x77, 0x73, 0x75, 0x76, 0x78, 0x79, 0x7B};
  for (int command : commands) {
    std::printf("requests_%02X %u\n", command, lib.requestCount(command));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: qs71_bench_prog LIBRARY IMAGE REPEATS\n");
    return 2;
  }
  Library lib;
  if (!Load(argv[1], &lib)) return 1;
  const int repeats = std::max(1, std::atoi(argv[3]));
  std::vector<double> times;
  Call call;
  for (int i = 0; i < repeats; ++i) {
    lib.reset();
    call = RunJob(lib, argv[2]);
    if (call.result != 0) break;
    times.push_back(call.seconds);
  }
  std::printf("result %d\notp_size %d\n", call.result, call.otpSize);
  if (call.result != 0) return 1;
  PrintCounts(lib);
  std::sort(times.begin(), times.end());
  std::printf("calls %zu\nbest_s %.6f\nmedian_s %.6f\n", times.size(), times.front(),
              times[times.size() / 2]);
  return 0;
}
