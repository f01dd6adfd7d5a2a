// Host overhead of the programmer library: one full job (blank check, write, verify) of an
// image on the emulated programmer, loaded at run time as a host loads the real library. The
// emulated programmer answers at once, so the time per report is what the host side (plus the
// emulated device) costs; a real full-speed programmer takes one 1 ms frame per report
// (QS71_EMU_PACE_US=1000 makes the emulated one keep that pace).
//
//   qs71_bench_prog LIBRARY IMAGE REPEATS [file|both]
//
// file (the default) times Qs71UsbWriter with the image file; both alternates it with
// Qs71UsbJob given the image's bytes, call by call, so that both meet the same machine. The
// chip comes from QS71_EMU_ID as for any host. Prints "key value" lines: the result, the
// report counts of the last call, and the best and median wall time of the calls; with both,
// the same per call (file_..., job_...) with the process's CPU time as well.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "qs71_usb_writer_binding.h"
#include "shared_library.h"

namespace {

// The emulated library and its calls.
struct Library : qs71::WriterBinding {
  SharedLibrary file;
};

bool Load(const char* path, Library* lib) {
  std::string error;
  if (!lib->file.Open(path, error)) {
    std::fprintf(stderr, "qs71_bench_prog: %s\n", error.c_str());
    return false;
  }
  lib->BindIn(lib->file);
  return lib->writer && lib->job && lib->reset && lib->requestCount;
}

struct Call {
  int32_t result = 0;
  int32_t otpSize = 0;
  double seconds = 0;
  double cpuSeconds = 0;
};

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The job call's request for the image's bytes; its text goes to standard output, as the
// file call's does.
Qs71JobRequest JobRequest(const std::vector<uint8_t>& image) {
  Qs71JobRequest request{};
  request.size = sizeof request;
  request.blankCheck = request.write = request.verify = 1;
  request.blankCheckVdd = request.verifyVdd = 5.0;
  request.writeVdd = 5.5;
  request.writeVpp = 6.5;
  request.image = image.data();
  request.imageLength = static_cast<uint32_t>(image.size());
  request.imageName = "part.bin";
  return request;
}

// The library's progress lines would only time the terminal; they go to /dev/null while the
// call runs. Both the C stream and std::cout are flushed before standard output comes back.
// bytes empty: the file call with the image's name; else the job call with the bytes.
Call RunJob(const Library& lib, const char* image, const std::vector<uint8_t>& bytes) {
  std::fflush(stdout);
  std::cout.flush();
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  int32_t stage = 0, progress = 0;
  Call call;
  const Qs71JobRequest request = JobRequest(bytes);
  Qs71JobResult result{};
  result.size = sizeof result;
  const double cpuStart = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  if (bytes.empty()) {
    call.result =
        lib.writer(&stage, &progress, &call.otpSize, 1, 5.0, 1, 5.5, 6.5, 1, 5.0, 0, image);
  } else {
    call.result = lib.job(&request, &result);
    call.otpSize = result.otpSize;
  }
  const auto stop = std::chrono::steady_clock::now();
  call.cpuSeconds = CpuSeconds() - cpuStart;
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

struct Series {
  std::vector<double> seconds;
  std::vector<double> cpuSeconds;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Best(const std::vector<double>& values) {
  return *std::min_element(values.begin(), values.end());
}

void PrintSeries(const char* prefix, const Series& series) {
  std::printf("%scalls %zu\n%sbest_s %.6f\n%smedian_s %.6f\n", prefix, series.seconds.size(),
              prefix, Best(series.seconds), prefix, Median(series.seconds));
  if (*prefix != '\0') {
    std::printf("%scpu_best_s %.6f\n%scpu_median_s %.6f\n", prefix, Best(series.cpuSeconds),
                prefix, Median(series.cpuSeconds));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && !(argc == 5 && (std::strcmp(argv[4], "file") == 0 ||
                                   std::strcmp(argv[4], "both") == 0))) {
    std::fprintf(stderr, "usage: qs71_bench_prog LIBRARY IMAGE REPEATS [file|both]\n");
    return 2;
  }
  Library lib;
  if (!Load(argv[1], &lib)) return 1;
  const int repeats = std::max(1, std::atoi(argv[3]));
  const bool both = argc == 5 && std::strcmp(argv[4], "both") == 0;
  std::vector<uint8_t> bytes;
  if (both) {
    std::ifstream in(argv[2], std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  Series series[2];
  Call call;
  for (int i = 0; i < repeats && call.result == 0; ++i) {
    for (int kind = 0; kind < (both ? 2 : 1) && call.result == 0; ++kind) {
      lib.reset();
      call = RunJob(lib, argv[2], kind == 0 ? std::vector<uint8_t>() : bytes);
      series[kind].seconds.push_back(call.seconds);
      series[kind].cpuSeconds.push_back(call.cpuSeconds);
    }
  }
  std::printf("result %d\notp_size %d\n", call.result, call.otpSize);
  if (call.result != 0) return 1;
  PrintCounts(lib);
  if (!both) {
    PrintSeries("", series[0]);
    return 0;
  }
  PrintSeries("file_", series[0]);
  PrintSeries("job_", series[1]);
  return 0;
}
