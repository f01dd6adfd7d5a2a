// How long qs71prog's search for failing blocks takes at a programmer's pace: a 2 MiB part written on the
// emulated programmer with cells that will not program, then the failing 256-byte blocks
// found by bisection with Qs71UsbVerifyRange, exactly as qs71prog searches after a failed
// verify. The write runs unpaced; the search at QS71_EMU_PACE_US (1000 for a real
// programmer, one USB frame per request).
//
//   qs71_bench_locate LIBRARY WORKDIR CELL[,CELL...]
//
// Prints "key value" lines: the cells, the blocks found, the comparisons, the bytes the
// programmer compared, the requests, and the wall time of the search.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "job/block_search.h"
#include "qs71_usb_writer_binding.h"
#include "shared_library.h"
#include "system_area.h"

namespace {

constexpr uint32_t kPart = 2097152;
constexpr uint8_t kSizeCode = 0x16;

// The emulated library and its calls.
struct Library : qs71::WriterBinding {
  SharedLibrary file;
};

bool Load(const char* path, Library& lib) {
  std::string error;
  if (!lib.file.Open(path, error)) {
    std::fprintf(stderr, "qs71_bench_locate: %s\n", error.c_str());
    return false;
  }
  lib.BindIn(lib.file);
  return lib.writer && lib.verifyRange && lib.reset && lib.setChipId && lib.setOtpFile &&
         lib.addFaults && lib.copyOtp && lib.requestCount;
}

int32_t Job(const Library& lib, bool write, const std::string& image) {
  int32_t stage = 0, progress = 0, otpSize = 0;
  return lib.writer(&stage, &progress, &otpSize, 0, 5.0, write, 5.5, 6.5, write, 5.0, 0,
                   image.c_str());
}

// Every main-area byte programmed (seeded, never 0xFF, so that any stuck cell shows), the
// tables of the system area too, and from option byte 78 on what the part itself holds.
std::vector<uint8_t> Image(const std::vector<uint8_t>& freshPart) {
  std::vector<uint8_t> image(kPart);
  uint32_t state = 0x2545F491;
  for (uint8_t& byte : image) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<uint8_t>(state >> 9) & 0xFE;
  }
  std::vector<uint8_t> system(freshPart.end() - qs71::kSystemAreaSize, freshPart.end());
  qs71::MaskSystemArea(system);
  std::copy(system.end() - 78, system.end(), image.end() - 78);
  return image;
}

bool Save(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  const bool ok = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return file && std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: qs71_bench_locate LIBRARY WORKDIR CELL[,CELL...]\n");
    return 2;
  }
  Library lib;
  if (!Load(argv[1], lib)) return 1;
  const std::string dir = argv[2];
  const std::string pace = std::getenv("QS71_EMU_PACE_US") ? std::getenv("QS71_EMU_PACE_US") : "";
  unsetenv("QS71_EMU_PACE_US");
  lib.reset();
  lib.setChipId(0x6D, 0x61, kSizeCode, 0x00);
  Job(lib, false, "");
  std::vector<uint8_t> fresh(lib.copyOtp(nullptr, 0));
  lib.copyOtp(fresh.data(), static_cast<uint32_t>(fresh.size()));
  const std::string image = dir + "/image.bin", part = dir + "/part.otp";
  std::remove(part.c_str());
  if (fresh.size() != kPart || !Save(image, Image(fresh))) return 1;
  lib.setOtpFile(part.c_str());
  std::string faults = "stuck:" + std::string(argv[3]);
  for (size_t at = faults.find(','); at != std::string::npos; at = faults.find(',', at + 7)) {
    faults.replace(at, 1, ",stuck:");
  }
  if (lib.addFaults(faults.c_str()) != 0) return 2;
  const int32_t written = Job(lib, true, image);
  std::printf("cells %s\nverify_result %d\n", argv[3], written);
  if (written != QS71_E_MISMATCH) return 1;

  if (!pace.empty()) setenv("QS71_EMU_PACE_US", pace.c_str(), 1);
  uint64_t bytes = 0, requests = 0;
  const auto start = std::chrono::steady_clock::now();
  const qs71prog::FailingBlocks found =
      qs71prog::LocateFailingBlocks(kPart, [&](uint32_t from, uint32_t length) {
        bytes += length;
        const int32_t result = lib.verifyRange(nullptr, from, length, 5.0, image.c_str());
        requests += lib.requestCount(-1);
        return result;
      });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("pace_us %s\nblocks %zu\ncomplete %d\n", pace.empty() ? "0" : pace.c_str(),
              found.blocks.size(), found.complete ? 1 : 0);
  for (uint32_t block : found.blocks) std::printf("block %s\n", qs71prog::BlockRange(block).c_str());
  std::printf("comparisons %d\nbytes_compared %llu\nparts_compared %.2f\nrequests %llu\n"
              "seconds %.1f\n",
              found.comparisons, static_cast<unsigned long long>(bytes),
              static_cast<double>(bytes) / kPart, static_cast<unsigned long long>(requests),
              seconds);
  return found.failure == 0 ? 0 : 1;
}
