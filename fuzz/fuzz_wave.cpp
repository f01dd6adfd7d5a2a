// The wave header check and the sample reader on arbitrary file bytes; the first byte picks
// the scale factor so that scaling and limiting are reached too. The reader alone: the ADPCM
// search has a target of its own (fuzz_adpcm.cpp), at whose cost this one would read fifty
// files a second instead of thousands.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/wave_input.h"
#include "fuzz_support.h"

namespace {
const double kScales[] = {1.0, 0.75, 2.0, 100000.0, 0.0, -1.0, 1e300, -1e300};

// Small blocks, so that short inputs cross block boundaries too. Every block holds what the
// reader says, within 16 bits, and the blocks hold the file's frames.
void ReadAll(FILE* file, const WaveHeader& header, double scale) {
  SampleReader reader;
  size_t n = 0;
  uint32_t total = 0;
  int r = StartSamples(&reader, file, header, 6);
  if (r != 0) return;
  while ((r = ReadSampleBlock(&reader, scale, &n)) == 0 && n > 0) {
    if (n > reader.samples.size()) std::abort();
    for (size_t i = 0; i < n; ++i) {
      if (reader.samples[i] < -32768 || reader.samples[i] > 32767) std::abort();
    }
    total += static_cast<uint32_t>(n);
  }
  if (r == 0 && total != reader.frames) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = (SilenceStandardOutput(), true);
  (void)quiet;
  if (size == 0) return 0;
  const double scale = kScales[data[0] % 8];
  FILE* file = std::tmpfile();
  if (file == nullptr) std::abort();
  std::fwrite(data + 1, 1, size - 1, file);
  std::rewind(file);
  WaveHeader header;
  std::string detail;
  if (CheckWaveHeader(file, "fuzz.wav", &header, &detail) == 0) ReadAll(file, header, scale);
  std::fclose(file);
  return 0;
}
