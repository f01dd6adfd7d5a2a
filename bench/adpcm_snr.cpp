// The SNR of a decoded sound against the wave the encoder was given, over the whole sound:
// 10 log10(sum of input^2 / sum of (decoded - input)^2), as the generator's map measures it.
// Both files are read by the generator's own wave reader, so the input is exactly the samples
// the encoder saw; the decoded sound is handed to the map's meter as the PCM16 bytes of the
// input, which the chip plays back unchanged. A decoder may give a
// few more samples than the input (a padding nibble, a codec's last block): only the input's
// length is compared.
//
// With --search, the input is first encoded by the generator's ADPCM search at a width of the
// caller's, wider than level 3's, and played as the chip plays it: how much a wider search
// would still gain.
//
//   qs71_bench_snr INPUT.wav DECODED.wav    prints "SNR_DB SAMPLES"
//   qs71_bench_snr --search SURVIVORS RADIUS OPPOSITE FINENESS DEPTH INPUT.wav
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/adpcm_encoder.h"
#include "audio/pcm_encoders.h"
#include "audio/sound_measure.h"
#include "audio/wave_input.h"
#include "sound_decoders.h"

namespace {

bool ReadAll(const char* name, std::vector<int32_t>* out) {
  FILE* file = nullptr;
  std::string detail;
  WaveHeader header;
  SampleReader reader;
  bool ok = OpenWaveFile(name, &file, &detail) == 0 && CheckWaveHeader(file, name, &header, &detail) == 0 &&
            StartSamples(&reader, file, header) == 0;
  size_t n = 0;
  while (ok && (ok = ReadSampleBlock(&reader, 1.0, &n) == 0) && n > 0) {
    out->insert(out->end(), reader.samples.begin(), reader.samples.begin() + static_cast<std::ptrdiff_t>(n));
  }
  if (file != nullptr) std::fclose(file);
  if (!ok) std::fprintf(stderr, "qs71_bench_snr: %s: %s\n", name, detail.empty() ? "cannot be read" : detail.c_str());
  return ok;
}

// The input searched in blocks of a compile's size, then played as the chip plays it.
std::vector<int32_t> SearchedAndPlayed(const std::vector<int32_t>& input, AdpcmSearch* search) {
  const std::vector<uint8_t> bytes = SearchAdpcmSound(search, input.data(), input.size(), 65536);
  return DecodeAdpcmRange(bytes.data(), bytes.size(), ImageTables());
}

// Five whole numbers of at most six digits each: no field of a width that fits is longer.
bool ReadWidth(char** args, AdpcmSearchWidth* width) {
  int* fields[] = {&width->survivors, &width->radius, &width->opposite, &width->fineness, &width->depth};
  for (int* field : fields) {
    const std::string text = *args++;
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *field = std::stoi(text);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int32_t> input, decoded;
  const bool search = argc == 8 && std::string(argv[1]) == "--search";
  if (argc != 3 && !search) {
    return std::fprintf(stderr, "usage: qs71_bench_snr INPUT.wav DECODED.wav\n"
                                "       qs71_bench_snr --search SURVIVORS RADIUS OPPOSITE FINENESS DEPTH INPUT.wav\n"), 2;
  }
  AdpcmSearchWidth width;
  AdpcmSearch searched;
  if (search && (!ReadWidth(argv + 2, &width) || !StartAdpcmWidthSearch(&searched, width))) {
    return std::fprintf(stderr, "qs71_bench_snr: that search width cannot be searched\n"), 2;
  }
  if (search ? !ReadAll(argv[7], &input) : !ReadAll(argv[1], &input) || !ReadAll(argv[2], &decoded)) return 1;
  if (search) decoded = SearchedAndPlayed(input, &searched);
  // The search plays every sample it is given, so only two files can disagree here.
  if (decoded.size() < input.size()) {
    std::fprintf(stderr, "qs71_bench_snr: %s has %zu samples, fewer than the %zu of %s\n", argv[2],
                 decoded.size(), input.size(), argv[1]);
    return 1;
  }
  std::vector<uint8_t> played(2 * input.size());
  EncodePcm16Block(decoded.data(), input.size(), played.data());
  CodecMeter meter(0, true);
  MeterCodecs(&meter, input.data(), input.size(), true, EncodedBlock{KindPcm16, played.data(), played.size()});
  for (const CodecCost& cost : CodecCostsOf(meter)) {
    if (cost.kind == KindPcm16) std::printf("%.2f %zu\n", std::isinf(cost.snrDb) ? 999.0 : cost.snrDb, input.size());
  }
  return 0;
}
