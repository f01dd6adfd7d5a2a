// The whole of qs71gen, both passes and the finishing, on arbitrary script bytes, with two
// small wave files at hand so that sound statements reach the encoders.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver.h"
#include "fuzz_support.h"
#include "wav_writer.h"

namespace {

bool Prepare() {
  EnterScratchFolder("fuzz-script");
  testwav::Signal tone;
  testwav::WriteFile("a.wav", testwav::EncodeWav(testwav::MakeSamples(tone, 40, 8000), {8000, 16, 1}));
  testwav::WriteFile("b.wav", testwav::EncodeWav(testwav::MakeSamples(tone, 9, 8000), {8000, 8, 2}));
  SilenceStandardOutput();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = Prepare();
  (void)ready;
  WriteFileOrAbort("script.qs", data, size);
  const char* argv[] = {"qs71gen", "script.qs", "/dev/null", "1Fh", "12"};
  RunGenerator(5, argv);
  return 0;
}
