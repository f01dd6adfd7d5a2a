// The programmer library on arbitrary replies: a whole blank check, write and verify (and the
// read-back) against a programmer that answers with the fuzzer's bytes. Whatever it says,
// the library must end with a result code and never read or write out of bounds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "hid_port_fuzz.h"
#include "qs71_application.h"

namespace {

const uint32_t kSizes[] = {262144, 524288, 1048576, 2097152};

std::string g_images[4];

bool Prepare() {
  EnterScratchFolder("fuzz-replies");
  for (int i = 0; i < 4; ++i) {
    g_images[i] = "image" + std::to_string(i) + ".bin";
    const std::vector<uint8_t> bytes(kSizes[i], 0xFF);
    WriteFileOrAbort(g_images[i], bytes.data(), bytes.size());
  }
  SilenceStandardOutput();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = Prepare();
  (void)ready;
  if (size < 1) return 0;
  // The first byte chooses the image's size and the operations; the rest are the replies.
  const uint8_t choice = data[0];
  qs71::SetFuzzReplies(data + 1, size - 1);
  auto* app = new Qs71Application();
  if (choice & 0x04) app->SelectBlankCheck();
  if (choice & 0x08) app->SelectWrite(g_images[choice & 3]);
  if (choice & 0x10) app->SelectVerify(g_images[choice & 3]);
  if (choice & 0x20) app->SelectRead("readback.bin");
  app->SetClearMarker((choice & 0x40) != 0);
  int stage = 0, progress = 0, otpSize = 0;
  int result = app->Run(&stage, &progress, &otpSize);
  delete app;
  if (result > 0 || stage != 0) std::abort();
  return 0;
}
