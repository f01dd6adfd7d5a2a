// Makes the benchmark's inputs, the same bytes on every machine (integer arithmetic only, fixed
// seeds), so that runs on different days and hosts encode exactly the same sound.
//
//   qs71_bench_inputs wav PATH FRAMES RATE SEED
//       16-bit mono WAV with the canonical 44-byte header: a voice-like signal (a sweeping
//       triangle, coloured noise and a syllable envelope), so that the ADPCM step index moves
//       the way it does on speech rather than sitting still on a pure tone.
//   qs71_bench_inputs script N WAVE FILESIZE PATH
//       scaling script: N constants (each defined from the previous one), N wave sounds of all
//       four encoded kinds sharing the file WAVE, flags on all 1024 sections and N group links
//       that name sounds and constants in scattered order and other letter case.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint32_t Next(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> WaveHeader(uint32_t rate, uint32_t frames) {
  std::vector<uint8_t> h;
  const uint32_t dataSize = 2 * frames;
  h.insert(h.end(), {'R', 'I', 'F', 'F'});
  PutLe(h, 36 + dataSize, 4);
  h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutLe(h, 16, 4);
  PutLe(h, 1, 2);         // PCM
  PutLe(h, 1, 2);         // mono
  PutLe(h, rate, 4);
  PutLe(h, 2 * rate, 4);  // byte rate
  PutLe(h, 2, 2);         // block align
  PutLe(h, 16, 2);        // bits
  h.insert(h.end(), {'d', 'a', 't', 'a'});
  PutLe(h, dataSize, 4);
  return h;
}

// One voice-like sample; all state in integers so that the file is bit-exact everywhere.
struct VoiceSignal {
  uint32_t rate;
  uint32_t noise;
  uint32_t phase = 0;
  int32_t lowPass = 0;

  int16_t Sample(uint64_t n) {
    // The pitch sweeps 100..3100 Hz over four seconds; phase is a 32-bit fraction of a cycle.
    const uint64_t cycle = 4ull * rate;
    const uint64_t freq = 100 + 3000 * (n % cycle) / cycle;
    phase += static_cast<uint32_t>((freq << 32) / rate);
    const int32_t tri = static_cast<int32_t>(phase >> 16);  // 0..65535 saw
    const int32_t triangle = (tri < 32768 ? tri : 65535 - tri) * 2 - 32768;
    const int32_t white = static_cast<int32_t>(Next(noise) >> 16) - 32768;
    lowPass += (white - lowPass) / 4;
    // Syllables of a quarter of a second: loudness rises and falls between 1/8 and 1.
    const uint64_t syllable = rate / 4;
    const int64_t pos = static_cast<int64_t>(n % syllable);
    const int64_t half = static_cast<int64_t>(syllable / 2);
    const int64_t env = 1024 + 7168 * (pos < half ? pos : 2 * half - pos) / half;  // /8192
    const int64_t mixed = (static_cast<int64_t>(triangle) * 5 + lowPass * 3) / 8;
    return static_cast<int16_t>(mixed * env / 8192);
  }
};

int MakeWave(const char* path, uint32_t frames, uint32_t rate, uint32_t seed) {
  // The data size must stay a positive 32-bit count in the header.
  if (frames == 0 || frames > 0x3FFFFFFF || rate == 0) {
    return std::fprintf(stderr, "bad length or rate\n"), 2;
  }
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return std::perror(path), 1;
  std::vector<uint8_t> bytes = WaveHeader(rate, frames);
  VoiceSignal signal{rate, seed | 1};
  for (uint32_t n = 0; n < frames; ++n) {
    PutLe(bytes, static_cast<uint16_t>(signal.Sample(n)), 2);
    if (bytes.size() >= (1u << 20)) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      bytes.clear();
    }
  }
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  return std::fclose(f) == 0 ? 0 : 1;
}

const char* const kKinds[] = {".ADPCM", ".PCM8", ".PCM16", ".ULAW"};

// Lines of the scaling script, in the order the grammar needs: every name is defined on an
// earlier line than the one that uses it.
void WriteScript(std::FILE* f, uint32_t n, const char* wave, const char* fileSize) {
  std::fprintf(f, "; scaling benchmark: %u constants, sounds and group links, 1024 sections\n", n);
  std::fprintf(f, ".GLOBAL $FILESIZE = %s\n", fileSize);
  std::fprintf(f, ".DEFINE Rate0 = 8000\n");
  for (uint32_t i = 1; i < n; ++i) std::fprintf(f, ".DEFINE Rate%u = Rate%u + 1\n", i, i - 1);
  for (uint32_t i = 0; i < n; ++i) std::fprintf(f, "%s voice%u = \"%s\"\n", kKinds[i % 4], i, wave);
  for (uint32_t s = 0; s < 1024; ++s) std::fprintf(f, ".SECTION [%u] $EDGE = \"Yes\"\n", s);
  uint32_t state = 12345;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t sound = Next(state) % n;
    const uint32_t rate = Next(state) % n;
    std::fprintf(f, ".SECTION [%u] $GROUPS = VOICE%u(RATE%u):%u\n", i % 1024, sound, rate, i & 1);
  }
}

int MakeScript(uint32_t n, const char* wave, const char* fileSize, const char* path) {
  if (n == 0) return std::fprintf(stderr, "N must be at least 1\n"), 2;
  std::FILE* f = std::fopen(path, "w");
  if (f == nullptr) return std::perror(path), 1;
  WriteScript(f, n, wave, fileSize);
  return std::fclose(f) == 0 ? 0 : 1;
}

uint32_t Number(const char* text) { return static_cast<uint32_t>(std::strtoul(text, nullptr, 0)); }

int Usage() {
  std::fprintf(stderr,
               "usage: qs71_bench_inputs wav PATH FRAMES RATE SEED\n"
               "       qs71_bench_inputs script N WAVE FILESIZE PATH\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "wav") == 0) {
    return MakeWave(argv[2], Number(argv[3]), Number(argv[4]), Number(argv[5]));
  }
  if (argc == 6 && std::strcmp(argv[1], "script") == 0) {
    return MakeScript(Number(argv[2]), argv[3], argv[4], argv[5]);
  }
  return Usage();
}
