#include "audio/wave_input.h"

#include <algorithm>
#include <cstring>

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

int32_t FrameSum(const uint8_t* frame, uint16_t channels, uint16_t bits) {
  int32_t sum = 0;
  for (uint16_t c = 0; c < channels; ++c) {
    if (bits == 8) sum += static_cast<int32_t>(frame[c]) - 128;
    else sum += static_cast<int16_t>(Le16(frame + 2 * c));
  }
  return sum;
}

// Mixed, widened, scaled and limited value of one frame.
int32_t FrameSample(const uint8_t* frame, const WaveHeader& header, double scale) {
  int32_t v = FrameSum(frame, header.channels, header.bits) / header.channels;
  if (header.bits == 8) v *= 256;
  return LimitSample(ScaleSample(v, scale));
}

size_t FrameBytes(const WaveHeader& header) { return header.channels * (header.bits / 8u); }

// Reads and converts frames block by block; false when the file ends first. Where the length
// could not be learnt in advance (a pipe), the vector grows only with what really arrives.
bool ReadFrames(FILE* file, const WaveHeader& header, uint32_t frames, std::vector<int32_t>* out) {
  const size_t frameBytes = FrameBytes(header);
  const double scale = g_state.Scale;
  std::vector<uint8_t> block(std::min(frames, kFramesPerBlock) * frameBytes);
  for (uint32_t done = 0; done < frames;) {
    uint32_t n = std::min(frames - done, kFramesPerBlock);
    if (std::fread(block.data(), frameBytes, n, file) != n) return false;
    for (uint32_t i = 0; i < n; ++i) out->push_back(FrameSample(&block[i * frameBytes], header, scale));
    done += n;
  }
  return true;
}

}  // namespace

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
    buffer->samples.reserve(frames);
  }
  if (!ReadFrames(file, header, frames, &buffer->samples)) {
    buffer->samples = {};  // incomplete samples must never reach an encoder
    return ErrRead;
  }
  buffer->count = static_cast<int32_t>(frames);
  return ErrNone;
}
