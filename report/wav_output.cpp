#include "wav_output.h"

#include <algorithm>

#include "byte_order.h"

namespace {

void PutLe(std::vector<uint8_t>* out, uint32_t value, int n) {
  out->resize(out->size() + static_cast<size_t>(n));
  PutLittleEndian(out->data() + out->size() - n, value, n);
}

void PutTag(std::vector<uint8_t>* out, const char* tag) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(tag[i]));
}

bool WriteAll(FILE* file, const std::vector<uint8_t>& bytes) {
  // An empty vector may hold no buffer at all, and fwrite takes none.
  return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

}  // namespace

std::vector<uint8_t> WavHeaderBytes(const WavFormat& format, uint32_t sampleCount) {
  const uint32_t blockAlign = format.bits / 8;
  const uint32_t dataSize = sampleCount * blockAlign;
  std::vector<uint8_t> h;
  PutTag(&h, "RIFF");
  PutLe(&h, 36 + dataSize, 4);
  PutTag(&h, "WAVE");
  PutTag(&h, "fmt ");
  PutLe(&h, 16, 4);
  PutLe(&h, 1, 2);  // PCM
  PutLe(&h, 1, 2);  // mono
  PutLe(&h, format.rate, 4);
  PutLe(&h, format.rate * blockAlign, 4);
  PutLe(&h, blockAlign, 2);
  PutLe(&h, format.bits, 2);
  PutTag(&h, "data");
  PutLe(&h, dataSize, 4);
  return h;
}

std::vector<uint8_t> WavSampleBytes(const WavFormat& format, const std::vector<int32_t>& samples) {
  std::vector<uint8_t> out;
  out.reserve(samples.size() * (format.bits / 8));
  for (int32_t s : samples) {
    const int32_t v = std::clamp(s, -32768, 32767);
    if (format.bits == 8) {
      // 8-bit WAV data is unsigned with 128 as zero; PCM8 samples are exact multiples of 256.
      out.push_back(static_cast<uint8_t>((v >> 8) + 128));
    } else {
      PutLe(&out, static_cast<uint32_t>(v), 2);
    }
  }
  return out;
}

std::vector<uint8_t> WavBytes(const WavFormat& format, const std::vector<int32_t>& samples) {
  std::vector<uint8_t> bytes = WavHeaderBytes(format, static_cast<uint32_t>(samples.size()));
  const std::vector<uint8_t> data = WavSampleBytes(format, samples);
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

bool WriteSilentWav(FILE* file, const WavFormat& format, uint32_t sampleCount) {
  if (!WriteAll(file, WavHeaderBytes(format, sampleCount))) return false;
  const std::vector<int32_t> chunk(65536, 0);
  const std::vector<uint8_t> zeros = WavSampleBytes(format, chunk);
  const size_t bytesPerSample = format.bits / 8;
  for (uint32_t left = sampleCount; left > 0;) {
    const uint32_t n = std::min<uint32_t>(left, static_cast<uint32_t>(chunk.size()));
    if (std::fwrite(zeros.data(), 1, n * bytesPerSample, file) != n * bytesPerSample) return false;
    left -= n;
  }
  return true;
}
