// The least a generator that streams its sounds can cost, to set qs71gen beside: it fills the
// image with 0xFF as the layout's first step does, then reads 65536 samples at a time from a
// 16-bit mono WAV, encodes them with the generator's own u-law or PCM16 block encoder and writes
// each block at the sound's place. It lays out nothing else and checks nothing, so it is a lower
// bound, not a second generator.
//
//   qs71_bench_stream ULAW|PCM16 WAVE IMAGE FILESIZE
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/pcm_encoders.h"

namespace {

constexpr size_t kBlock = 65536;
constexpr long kWaveHeader = 44;
// Where the sound of a one-sound image begins: the 16-byte header, then one 8-byte group entry.
constexpr long kSoundPosition = 24;

bool Fill(std::FILE* image, long size) {
  const std::vector<uint8_t> block(kBlock, 0xFF);
  for (long done = 0; done < size; done += static_cast<long>(kBlock)) {
    const size_t n = static_cast<size_t>(std::min<long>(size - done, kBlock));
    if (std::fwrite(block.data(), 1, n, image) != n) return false;
  }
  return true;
}

bool Stream(std::FILE* wave, std::FILE* image, bool ulaw) {
  std::vector<uint8_t> raw(2 * kBlock);
  std::vector<int32_t> samples(kBlock);
  std::vector<uint8_t> bytes(2 * kBlock);
  size_t n;
  while ((n = std::fread(raw.data(), 2, kBlock, wave)) > 0) {
    for (size_t i = 0; i < n; ++i) {
      samples[i] = static_cast<int16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
    }
    if (ulaw) EncodeUlawBlock(samples.data(), n, bytes.data());
    else EncodePcm16Block(samples.data(), n, bytes.data());
    const size_t size = ulaw ? n : 2 * n;
    if (std::fwrite(bytes.data(), 1, size, image) != size) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: qs71_bench_stream ULAW|PCM16 WAVE IMAGE FILESIZE\n");
    return 2;
  }
  const bool ulaw = std::strcmp(argv[1], "ULAW") == 0;
  std::FILE* wave = std::fopen(argv[2], "rb");
  std::FILE* image = std::fopen(argv[3], "wb+");
  if (wave == nullptr || image == nullptr) return 1;
  const bool ok = Fill(image, std::strtol(argv[4], nullptr, 0)) &&
                  std::fseek(wave, kWaveHeader, SEEK_SET) == 0 &&
                  std::fseek(image, kSoundPosition, SEEK_SET) == 0 && Stream(wave, image, ulaw);
  std::fclose(wave);
  return std::fclose(image) == 0 && ok ? 0 : 1;
}
