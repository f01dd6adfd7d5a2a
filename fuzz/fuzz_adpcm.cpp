// The ADPCM encoders on arbitrary samples: the greedy encoder, each searching level and widths
// of their own. A sound must give the same bytes in any blocks, as many as its samples need,
// and the greedy encoder's own account of what the chip plays must be the chip's decoder's.
//
// Input: a mode byte (bits 0-1 the level, bit 2 a width of its own from the next five bytes,
// bit 3 samples past 16 bits, bits 4-7 the block size), then 16-bit little-endian samples.
// A sound is as long as a budget of expansions allows, but at least two depths and a bit, so
// that a checkpoint commits codes before its end: level 3 expands 384 paths a sample, each a
// fraction of a microsecond under the sanitizers. Narrow widths get sounds of several depths;
// and a short sound already crosses its block ends often.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audio/adpcm_encoder.h"
#include "sound_decoders.h"

namespace {

constexpr size_t kMaxSamples = 160;
constexpr size_t kExpansionBudget = 160 * 64;  // the longest sound at level 2's 64 a sample

struct Input {
  int level = 0;
  bool ownWidth = false;
  AdpcmSearchWidth width;
  size_t block = 0;
  std::vector<int32_t> samples;
};

// Up to 10 codes a path, 15 survivors past the least, depths of 16 and 32: past these a sample
// costs the fuzzer more than it finds, and the levels' own widths are fuzzed as they are.
AdpcmSearchWidth WidthOf(const uint8_t* b) {
  AdpcmSearchWidth w;
  w.radius = b[0] % 4;
  w.opposite = b[1] % 4;
  w.fineness = b[2] % 8;
  w.depth = 16 << (b[3] % 2);
  w.survivors = 4 * (2 * w.radius + 1 + w.opposite) + b[4] % 16;
  return w;
}

// The greedy encoder and the pair search expand at most four states a sample.
size_t SamplesFor(const AdpcmSearch& search) {
  const AdpcmSearchWidth& w = search.width;
  const size_t expansions = w.survivors <= 2 ? 4 : static_cast<size_t>(w.survivors) * (2 * w.radius + 1 + w.opposite);
  const size_t least = 2 * static_cast<size_t>(w.depth) + 8;
  return std::min(kMaxSamples, std::max(least, kExpansionBudget / expansions));
}

bool Parse(const uint8_t* data, size_t size, Input* in) {
  if (size == 0) return false;
  const uint8_t mode = data[0];
  size_t at = 1;
  in->level = mode & 3;
  in->ownWidth = (mode & 4) != 0;
  if (in->ownWidth) {
    if (size < at + 5) return false;
    in->width = WidthOf(data + at);
    at += 5;
  }
  in->block = 2 * static_cast<size_t>(mode >> 4) + 2;
  for (; at + 1 < size && in->samples.size() < kMaxSamples; at += 2) {
    const int32_t v = static_cast<int16_t>(data[at] | data[at + 1] << 8);
    in->samples.push_back((mode & 8) ? v * 3 / 2 : v);
  }
  return true;
}

void Start(const Input& in, AdpcmSearch* search) {
  if (!in.ownWidth) return StartAdpcmSearch(search, in.level);
  if (!StartAdpcmWidthSearch(search, in.width)) std::abort();
}

// The same sound in the input's blocks and in one, cut to what its width can search.
void CheckBlocks(Input* in) {
  AdpcmSearch search;
  Start(*in, &search);
  in->samples.resize(std::min(in->samples.size(), SamplesFor(search)));
  const int32_t* samples = in->samples.data();
  const size_t n = in->samples.size();
  const std::vector<uint8_t> blocks = SearchAdpcmSound(&search, samples, n, in->block);
  Start(*in, &search);
  const std::vector<uint8_t> whole = SearchAdpcmSound(&search, samples, n, 0);
  if (blocks != whole || whole.size() != AdpcmBytes(n)) std::abort();
}

// The greedy encoder's predictor is what the chip plays: its squared error and its last state
// are those of the chip's decoder playing its codes.
void CheckGreedyAgainstDecoder(const std::vector<int32_t>& samples) {
  const size_t n = samples.size();
  std::vector<uint8_t> bytes(AdpcmBytes(n));
  AdpcmState state;
  const int64_t measured = EncodeAdpcmMeasured(&state, samples.data(), n, bytes.data());
  const StoredCodecTables tables = ImageCodecTables();
  AdpcmPlayback chip;
  int64_t played = 0;
  for (size_t i = 0; i < n; ++i) {
    const int code = (i % 2 == 0) ? bytes[i / 2] >> 4 : bytes[i / 2] & 0x0F;
    const int64_t difference = int64_t{samples[i]} - PlayAdpcmCode(&chip, tables, code);
    played += difference * difference;
  }
  if (played != measured || chip.predictor != state.predictor || chip.index != state.index) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in;
  if (!Parse(data, size, &in)) return 0;
  CheckBlocks(&in);
  CheckGreedyAgainstDecoder(in.samples);
  return 0;
}
