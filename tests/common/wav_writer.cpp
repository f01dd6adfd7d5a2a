#include "wav_writer.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <iterator>

namespace testwav {
namespace {

constexpr double kPi = 3.14159265358979323846;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void PutTag(std::vector<uint8_t>& out, const char* tag) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(tag[i]));
}

struct LayoutName {
  const char* name;
  Layout layout;
};

const LayoutName kLayouts[] = {
    {"canonical", Layout::Canonical}, {"list", Layout::List}, {"extensible", Layout::Extensible}};

// The fourteen bytes after the format tag in every sub-format GUID of an extensible header.
const uint8_t kSubFormatTail[] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                  0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

void PutFormatChunk(std::vector<uint8_t>& out, const Format& f) {
  const bool extensible = f.layout == Layout::Extensible;
  const uint32_t blockAlign = f.channels * (f.bits / 8u);
  PutTag(out, "fmt ");
  Put32(out, extensible ? 40 : 16);
  Put16(out, extensible ? 0xFFFE : f.tag);
  Put16(out, f.channels);
  Put32(out, f.rate);
  Put32(out, f.rate * blockAlign);
  Put16(out, blockAlign);
  Put16(out, f.bits);
  if (!extensible) return;
  Put16(out, 22);                           // extension size
  Put16(out, f.bits);                       // valid bits
  Put32(out, f.channels == 2 ? 0x3 : 0x4);  // front left and right, or front centre
  Put16(out, f.tag);
  out.insert(out.end(), std::begin(kSubFormatTail), std::end(kSubFormatTail));
}

// An INFO list with one 3-byte comment: 15 bytes, so a pad byte follows.
void PutListChunk(std::vector<uint8_t>& out) {
  PutTag(out, "LIST");
  Put32(out, 15);
  PutTag(out, "INFO");
  PutTag(out, "ICMT");
  Put32(out, 3);
  for (uint8_t b : {'h', 'i', '\0', '\0'}) out.push_back(b);
}

int32_t Clamp16(double v) {
  if (v > 32767.0) return 32767;
  if (v < -32768.0) return -32768;
  return static_cast<int32_t>(std::lround(v));
}

// A small xorshift generator: the same seed gives the same noise on every machine.
uint32_t NextRandom(uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

double SampleAt(const Signal& s, uint32_t i, uint32_t frames, uint32_t rate, uint32_t& rng) {
  double t = static_cast<double>(i) / rate;
  switch (s.shape) {
    case Shape::Sine: return std::sin(2 * kPi * s.freq * t);
    case Shape::Sweep: {
      double span = static_cast<double>(frames) / rate;
      double k = span > 0 ? (s.freqEnd - s.freq) / span : 0;
      return std::sin(2 * kPi * (s.freq * t + 0.5 * k * t * t));
    }
    case Shape::Noise: return (static_cast<double>(NextRandom(rng)) / 4294967295.0) * 2 - 1;
    case Shape::Ramp: return frames > 1 ? 2.0 * i / (frames - 1) - 1 : 0;
    case Shape::Silence: return 0;
  }
  return 0;
}

}  // namespace

std::vector<int32_t> MakeSamples(const Signal& signal, uint32_t frames, uint32_t rate) {
  std::vector<int32_t> out;
  out.reserve(frames);
  uint32_t rng = signal.seed != 0 ? signal.seed : 1;
  out.assign(signal.padFrames, 0);
  for (uint32_t i = 0; i < frames; ++i) {
    out.push_back(Clamp16(32767.0 * signal.amplitude * SampleAt(signal, i, frames, rate, rng)));
  }
  out.insert(out.end(), signal.padFrames, 0);
  return out;
}

bool LayoutByName(const std::string& name, Layout* layout) {
  for (const LayoutName& l : kLayouts) {
    if (name != l.name) continue;
    *layout = l.layout;
    return true;
  }
  return false;
}

std::vector<uint8_t> WavHeader(const Format& f, uint32_t dataSize) {
  std::vector<uint8_t> chunks;
  PutFormatChunk(chunks, f);
  if (f.layout == Layout::List) PutListChunk(chunks);
  std::vector<uint8_t> out;
  PutTag(out, "RIFF");
  Put32(out, static_cast<uint32_t>(4 + chunks.size() + 8) + dataSize);
  PutTag(out, "WAVE");
  out.insert(out.end(), chunks.begin(), chunks.end());
  PutTag(out, "data");
  Put32(out, dataSize);
  return out;
}

std::vector<uint8_t> EncodeWav(const std::vector<int32_t>& samples, const Format& f) {
  std::vector<uint8_t> data;
  for (int32_t s : samples) {
    for (uint16_t c = 0; c < f.channels; ++c) {
      if (f.bits == 8) data.push_back(static_cast<uint8_t>((s >> 8) + 128));
      else Put16(data, static_cast<uint16_t>(s));
    }
  }
  std::vector<uint8_t> out = WavHeader(f, static_cast<uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  // An empty vector may hold no buffer at all, and fwrite takes none.
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool WriteSoundFile(const std::string& path, const std::vector<int32_t>& samples,
                    const Format& f, const std::string& container) {
  const int type = container == "flac" ? SF_FORMAT_FLAC : container == "aiff" ? SF_FORMAT_AIFF : SF_FORMAT_WAV;
  const int encoding = f.tag == 3 ? SF_FORMAT_FLOAT
                       : f.bits == 8 ? (type == SF_FORMAT_WAV ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8)
                       : f.bits == 24 ? SF_FORMAT_PCM_24
                       : f.bits == 32 ? SF_FORMAT_PCM_32 : SF_FORMAT_PCM_16;
  SF_INFO info{};
  info.samplerate = static_cast<int>(f.rate);
  info.channels = f.channels;
  info.format = type | encoding;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return false;
  const sf_count_t n = static_cast<sf_count_t>(samples.size());
  bool ok;
  if (f.tag == 3) {
    // libsndfile stores integers given for a float file unscaled: 16384 would be +84 dBFS.
    std::vector<double> frames;
    for (int32_t s : samples) frames.insert(frames.end(), f.channels, s / 32768.0);
    ok = sf_writef_double(file, frames.data(), n) == n;
  } else {
    std::vector<int> frames;
    for (int32_t s : samples) frames.insert(frames.end(), f.channels, s * 65536);
    ok = sf_writef_int(file, frames.data(), n) == n;
  }
  return sf_close(file) == 0 && ok;
}

}  // namespace testwav
