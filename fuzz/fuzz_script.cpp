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

// The scanner stops the program on a line longer than its limits; such inputs say nothing
// new after the first one, so they are not run.
bool HasOverlongLine(const uint8_t* data, size_t size) {
  size_t run = 0;
  for (size_t i = 0; i < size; ++i) {
    run = data[i] == '\n' ? 0 : run + 1;
    if (run > 8000) return true;
  }
  return false;
}

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
  if (HasOverlongLine(data, size)) return 0;
  WriteFileOrAbort("script.qs", data, size);
  const char* argv[] = {"qs71gen", "script.qs", "/dev/null", "1Fh", "12"};
  RunGenerator(5, argv);
  return 0;
}
