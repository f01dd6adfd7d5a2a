#include "audio/wave_input.h"

#include <algorithm>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "compile_state.h"
#include "script/diagnostics.h"

namespace {

constexpr size_t kHeaderSize = 44;

// Frames converted per fread: large enough that a 10-minute file needs few calls, small
// enough that the staging buffer stays a few hundred kilobytes.
constexpr uint32_t kFramesPerBlock = 65536;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Only the fields the chip tools ever looked at; the rest of the canonical header is taken on
// trust, so files with extra chunks are misread exactly as they always were.
bool ParseHeader(const uint8_t* raw, WaveHeader* header) {
  if (std::memcmp(raw, "RIFF", 4) != 0) return false;
  header->channels = Le16(raw + 22);
  header->rate = Le32(raw + 24);
  header->bits = Le16(raw + 34);
  header->dataSize = static_cast<int32_t>(Le32(raw + 40));
  if (header->channels != 1 && header->channels != 2) return false;
  if (header->bits != 8 && header->bits != 16) return false;
  // A size of 2 GB or more cannot be a real sound for the chip and would turn negative in
  // every range computed from it.
  return header->dataSize >= 0;
}

// The rate only serves as a warning when a script mixes files of different rates; the image
// stores no rate and nothing is resampled.
void ReportRate(uint32_t fileRate) {
  int32_t rate = static_cast<int32_t>(fileRate);
  if (g_state.WaveRate == 0) std::printf("Find Sample Rate %d Hz in wave.\n", rate);
  else if (g_state.WaveRate != rate) std::printf("Find different Sample Rate %d Hz in wave!\n", rate);
  g_state.WaveRate = rate;
}

// Bytes left after the current position, or -1 when the stream cannot tell (a pipe).
int64_t RemainingBytes(FILE* file) {
  long here = std::ftell(file);
  if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
  long end = std::ftell(file);
  if (std::fseek(file, here, SEEK_SET) != 0) return -1;
  return end < here ? -1 : static_cast<int64_t>(end) - here;
}

// Advice only: where it is refused or unknown the buffer works the same, page by page. Below a
// few huge pages it is not worth the system call.
void AdviseHugePages(void* data, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kPage = 4096;
  constexpr size_t kWorthIt = 8u << 20;
  if (data == nullptr || bytes < kWorthIt) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kPage - 1);
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

// Room for n values of a buffer that may hold a whole long sound, backed by huge pages where
// the system offers them.
template <typename T>
void ReserveSoundBuffer(std::vector<T>* buffer, size_t n) {
  buffer->reserve(n);
  AdviseHugePages(buffer->data(), buffer->capacity() * sizeof(T));
}

size_t FrameBytes(const WaveHeader& header) { return header.channels * (header.bits / 8u); }

int32_t ScaledSample(int32_t mixed, double scale) { return LimitSample(ScaleSample(mixed, scale)); }

// One frame mixed to mono on the 16-bit scale: the channel sum divided by the channel count
// (truncating toward zero), 8-bit samples taken as (byte - 128) and then times 256.
template <int Channels, int Bits>
int32_t MixedSample(const uint8_t* frame) {
  int32_t sum = 0;
  for (int c = 0; c < Channels; ++c) {
    if constexpr (Bits == 8) sum += static_cast<int32_t>(frame[c]) - 128;
    else sum += static_cast<int16_t>(Le16(frame + 2 * c));
  }
  const int32_t v = sum / Channels;
  return Bits == 8 ? v * 256 : v;
}

// Converts n frames of one layout. The layout is a template argument so that the usual 16-bit
// mono file becomes a plain widening loop; with the scale at 1.0 the product is exact and every
// mixed value is already within the 16-bit range, so the samples are the mixed values as they
// stand.
template <int Channels, int Bits>
void ConvertBlock(const uint8_t* block, uint32_t n, double scale, int32_t* out) {
  constexpr size_t kFrameBytes = Channels * Bits / 8;
  if (scale == 1.0) {
    for (uint32_t i = 0; i < n; ++i) out[i] = MixedSample<Channels, Bits>(block + i * kFrameBytes);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) {
    out[i] = ScaledSample(MixedSample<Channels, Bits>(block + i * kFrameBytes), scale);
  }
}

using BlockConverter = void (*)(const uint8_t*, uint32_t, double, int32_t*);

BlockConverter ConverterFor(const WaveHeader& header) {
  if (header.bits == 8) return header.channels == 1 ? ConvertBlock<1, 8> : ConvertBlock<2, 8>;
  return header.channels == 1 ? ConvertBlock<1, 16> : ConvertBlock<2, 16>;
}

// Reads and converts frames block by block; false when the file ends first. Where the length
// could not be learnt in advance (a pipe), the vector grows only with what really arrives.
bool ReadFrames(FILE* file, const WaveHeader& header, uint32_t frames, std::vector<int32_t>* out) {
  const size_t frameBytes = FrameBytes(header);
  const double scale = g_state.Scale;
  const BlockConverter convert = ConverterFor(header);
  const uint32_t blockFrames = std::min(frames, kFramesPerBlock);
  std::vector<uint8_t> block(blockFrames * frameBytes);
  // Converted into a block that stays in the cache and then appended: growing the buffer
  // first would write the whole sound's memory twice, once with zeros.
  std::vector<int32_t> converted(blockFrames);
  for (uint32_t done = 0; done < frames;) {
    uint32_t n = std::min(frames - done, kFramesPerBlock);
    if (std::fread(block.data(), frameBytes, n, file) != n) return false;
    convert(block.data(), n, scale, converted.data());
    out->insert(out->end(), converted.begin(), converted.begin() + n);
    done += n;
  }
  return true;
}

}  // namespace

std::vector<uint8_t> SoundBytes(size_t n) {
  std::vector<uint8_t> bytes;
  ReserveSoundBuffer(&bytes, n);
  bytes.resize(n);
  return bytes;
}

int32_t ScaleSample(int32_t sample, double scale) {
  double product = static_cast<double>(sample) * scale;
  // Truncation toward zero keeps (-2^31 - 1, 2^31) in range; anything beyond, and NaN, takes
  // the value the old conversion produced for it, which the limiter then pins to -32768.
  if (!(product > -2147483649.0 && product < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(product);
}

int32_t LimitSample(int32_t sample) {
  if (sample > 32767) return 32767;
  if (sample < -32768) return -32768;
  return sample;
}

int CheckWaveHeader(FILE* file, WaveHeader* header) {
  uint8_t raw[kHeaderSize];
  if (std::fread(raw, 1, kHeaderSize, file) != kHeaderSize) return ErrWaveFile;
  if (!ParseHeader(raw, header)) return ErrWaveFile;
  ReportRate(header->rate);
  return ErrNone;
}

uint32_t WaveFrameCount(const WaveHeader& header) {
  uint32_t bytesPerSample = header.bits / 8u;
  if (header.channels == 0 || bytesPerSample == 0) return 0;
  return static_cast<uint32_t>(header.dataSize) / header.channels / bytesPerSample;
}

int ReadSamples(SampleBuffer* buffer, FILE* file, const WaveHeader& header) {
  buffer->count = 0;
  buffer->samples = {};
  if (header.bits != 8 && header.bits != 16) return ErrWaveFile;
  if (header.channels != 1 && header.channels != 2) return ErrWaveFile;
  const uint32_t frames = WaveFrameCount(header);
  // A header may announce far more than the file holds; refuse before allocating for it.
  int64_t remaining = RemainingBytes(file);
  if (remaining >= 0) {
    if (static_cast<uint64_t>(remaining) < static_cast<uint64_t>(frames) * FrameBytes(header)) return ErrRead;
    ReserveSoundBuffer(&buffer->samples, frames);
  }
  if (!ReadFrames(file, header, frames, &buffer->samples)) {
    buffer->samples = {};  // incomplete samples must never reach an encoder
    return ErrRead;
  }
  buffer->count = static_cast<int32_t>(frames);
  return ErrNone;
}
