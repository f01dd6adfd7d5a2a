// The wave header check and the sample reader on arbitrary file bytes; the first byte picks
// the scale factor so that scaling and limiting are reached too. The first samples then go
// through the most searching ADPCM encoder in the reader's small blocks and in one block: both
// must give the same bytes, and exactly the bytes the samples' range holds.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/adpcm_encoder.h"
#include "audio/wave_input.h"
#include "fuzz_support.h"

namespace {
const double kScales[] = {1.0, 0.75, 2.0, 100000.0, 0.0, -1.0, 1e300, -1e300};

// The search is costly under the fuzzer's instrumentation; a sound's first samples already
// cross its commit points and the reader's block ends many times.
constexpr uint32_t kSearchedSamples = 256;

void SearchInOneBlock(const std::vector<int32_t>& samples, const std::vector<uint8_t>& streamed) {
  AdpcmSearch search;
  StartAdpcmSearch(&search, kAdpcmQualityMax);
  std::vector<uint8_t> whole;
  SearchAdpcmBlock(&search, samples.data(), samples.size(), true, &whole);
  if (whole != streamed || whole.size() != AdpcmBytes(samples.size())) std::abort();
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
  if (CheckWaveHeader(file, "fuzz.wav", &header, &detail) == 0) {
    // Small blocks, so that short inputs cross block boundaries too.
    SampleReader reader;
    size_t n = 0;
    uint32_t total = 0;
    int r = StartSamples(&reader, file, header, 6);
    AdpcmSearch search;
    StartAdpcmSearch(&search, kAdpcmQualityMax);
    std::vector<int32_t> samples;
    std::vector<uint8_t> streamed, bytes;
    if (r == 0) {
      while ((r = ReadSampleBlock(&reader, scale, &n)) == 0 && n > 0) {
        if (n > reader.samples.size()) std::abort();
        for (size_t i = 0; i < n; ++i) {
          if (reader.samples[i] < -32768 || reader.samples[i] > 32767) std::abort();
        }
        const uint32_t searched = std::min(static_cast<uint32_t>(n), kSearchedSamples - std::min(total, kSearchedSamples));
        total += static_cast<uint32_t>(n);
        if (searched == 0) continue;
        samples.insert(samples.end(), reader.samples.begin(), reader.samples.begin() + searched);
        const bool last = samples.size() == std::min(reader.frames, kSearchedSamples);
        SearchAdpcmBlock(&search, reader.samples.data(), searched, last, &bytes);
        streamed.insert(streamed.end(), bytes.begin(), bytes.end());
      }
      if (r == 0 && total != reader.frames) std::abort();
      if (r == 0) SearchInOneBlock(samples, streamed);
    }
  }
  std::fclose(file);
  return 0;
}
