#include "audio/adpcm_encoder.h"

#include <algorithm>
#include <array>
#include <bit>

#include "codec_tables.h"
#include "sound_decoders.h"

namespace {

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The codes a magnitude can take: 0..7.
constexpr int kLevels = 7;

// The successive approximation against step, step/2 and step/4 sets magnitude k exactly when
// the difference reaches threshold k but not k + 1, threshold k being the sum of the parts the
// bits of k select; the thresholds rise with k. Seven comparisons of the difference with them
// do not depend on each other, where the three steps of the approximation do, and a long sound
// is one dependency chain from its first sample to its last.
//
// Everything one step index needs lies in one cache line, and each line is stored for every
// (index, code) that leads to it: the next sample then waits for one load, not for a
// transition lookup and a step lookup after it.
struct alignas(64) StepLine {
  int32_t threshold[kLevels];  // threshold of magnitude k + 1
  int32_t rise[kLevels];       // what it adds to the one below
  int32_t top;                 // the delta of magnitude 7: step/8 plus the top threshold
  int32_t row;                 // index * 8: the first of the lines that follow this index
};

// The index that follows a code depends on its magnitude alone: with the sign left out of the
// lines that follow, the next line waits for no sign, and the table is half as large.
struct StepLines {
  StepLine after[kImaStepCount * 8];  // the line of the index that follows index and magnitude
  StepLine at[kImaStepCount];         // the line of each index, where a block begins
};

// The step of an index as the chip finds it in every image.
int32_t StepOf(const StoredCodecTables& tables, int index) { return tables.steps[index]; }

// Threshold k is what magnitude k adds beyond the step / 8 that every code adds.
StepLine LineOf(const StoredCodecTables& tables, int index) {
  const int32_t step = StepOf(tables, index);
  StepLine line{};
  int32_t below = 0;
  for (int k = 1; k <= kLevels; ++k) {
    const int32_t t = AdpcmDelta(step, k) - AdpcmDelta(step, 0);
    line.threshold[k - 1] = t;
    line.rise[k - 1] = t - below;
    below = t;
  }
  line.top = AdpcmDelta(step, kLevels);
  line.row = index * 8;
  return line;
}

void FillLines(StepLines* lines) {
  const StoredCodecTables tables = ImageCodecTables();
  for (int index = 0; index < kImaStepCount; ++index) {
    lines->at[index] = LineOf(tables, index);
    for (int magnitude = 0; magnitude <= kLevels; ++magnitude) {
      lines->after[index * 8 + magnitude] = LineOf(tables, AdpcmNextIndex(index, magnitude));
    }
  }
}

const StepLines& Lines() {
  static StepLines lines;
  static const bool filled = (FillLines(&lines), true);
  (void)filled;
  return lines;
}

// All ones when a is below b. Both are never negative, so the unsigned comparison is the signed
// one, and it compiles to a compare and a subtract with borrow, without a branch: on speech the
// outcome is a coin toss.
inline int32_t BelowMask(int32_t a, int32_t b) {
  return -static_cast<int32_t>(static_cast<uint32_t>(a) < static_cast<uint32_t>(b));
}

// One sample against the line of the current step index; advances the predictor and the line.
// The delta is step/8 plus the threshold of the magnitude reached: the top delta less the rises
// of the thresholds not reached. The sums are paired so that they are short chains.
inline uint32_t EncodeSample(int32_t sample, const StepLine* after, const StepLine** current,
                             int32_t* predictor) {
  const StepLine& line = **current;
  const int32_t predicted = *predictor;
  const int32_t limited = Clamp(sample, -32768, 32767);
  const int32_t diff = limited - predicted;
  const int32_t sign = diff >> 31;  // all ones below the prediction
  // Both differences and a select: a step fewer on the chain than applying the sign's mask.
  const int32_t magnitude = diff < 0 ? predicted - limited : diff;
  int32_t masks[kLevels];
  // Unrolled: at -O2 the loop would keep the masks in memory, on the chain from sample to sample.
#pragma GCC unroll 7
  for (int k = 0; k < kLevels; ++k) masks[k] = BelowMask(magnitude, line.threshold[k]);
  const int32_t missed = ((masks[0] & line.rise[0]) + (masks[1] & line.rise[1])) +
                         ((masks[2] & line.rise[2]) + (masks[3] & line.rise[3])) +
                         (((masks[4] & line.rise[4]) + (masks[5] & line.rise[5])) +
                          (masks[6] & line.rise[6]));
  const int32_t notReached = ((masks[0] + masks[1]) + (masks[2] + masks[3])) +
                             ((masks[4] + masks[5]) + masks[6]);  // minus their count
  const int32_t delta = line.top - missed;
  // The new prediction stays within 16 bits: room is the distance to the limit on the side
  // the prediction moves to.
  const int32_t room = ((predicted + 32768) & sign) | ((32767 - predicted) & ~sign);
  const int32_t moved = delta < room ? delta : room;
  *predictor = predicted + ((moved ^ sign) - sign);
  const int32_t magnitudeCode = kLevels + notReached;
  *current = after + line.row + magnitudeCode;
  return static_cast<uint32_t>(magnitudeCode) | (static_cast<uint32_t>(sign) & 8u);
}

}  // namespace

uint8_t AdpcmEncodeStep(AdpcmState* state, int32_t sample) {
  const StepLines& lines = Lines();
  const StepLine* line = &lines.at[state->index];
  const uint32_t code = EncodeSample(sample, lines.after, &line, &state->predictor);
  state->index = line->row / 8;
  return static_cast<uint8_t>(code);
}

size_t AdpcmBytes(size_t n) { return n / 2 + n % 2; }

namespace {

int64_t Squared(int64_t difference) { return difference * difference; }

// The squared error is worked out beside the codes only when asked for. The loop keeps its
// state in locals: a byte stored through out may alias anything in memory.
template <bool kNoise>
int64_t EncodeGreedy(AdpcmState* state, const int32_t* samples, size_t n, uint8_t* out) {
  const StepLines& lines = Lines();
  const StepLine* line = &lines.at[state->index];
  int32_t predictor = state->predictor;
  int64_t noise = 0;
  const auto encode = [&](int32_t sample) {
    const uint32_t code = EncodeSample(sample, lines.after, &line, &predictor);
    if constexpr (kNoise) noise += Squared(int64_t{sample} - predictor);
    return code;
  };
  size_t i = 0;
  for (; i + 1 < n; i += 2) {
    const uint32_t high = encode(samples[i]);
    out[i / 2] = static_cast<uint8_t>(high << 4 | encode(samples[i + 1]));
  }
  if (i < n) out[i / 2] = static_cast<uint8_t>(encode(samples[i]) << 4);
  state->predictor = predictor;
  state->index = line->row / 8;
  return noise;
}

}  // namespace

void EncodeAdpcmBlock(AdpcmState* state, const int32_t* samples, size_t n, uint8_t* out) {
  EncodeGreedy<false>(state, samples, n, out);
}

int64_t EncodeAdpcmMeasured(AdpcmState* state, const int32_t* samples, size_t n, uint8_t* out) {
  return EncodeGreedy<true>(state, samples, n, out);
}

namespace {

// Level 1's samples between commits, and how far back a commit reaches: the codes of one depth
// fill two 64-bit words.
constexpr uint32_t kDepth = 32;

// Finer buckets would reach into the step index's bits of a merge key.
constexpr int kFinenessMax = 7;

// Level 0 is the greedy encoder and searches nothing; level 1 is the pair search below. Merging
// only equal predictors fills the kept set with near copies of one path; buckets as wide as a
// fraction of the step keep paths that play apart. More paths pay only with finer buckets: 128
// at a sixteenth of a step gain 0.1 to 0.16 dB on speech over 64 at a quarter, where the other
// sign's code adds less than it costs. Level 3's width is the widest that stays within the time
// of ffmpeg's -trellis 8; wider searches (bench/adpcm_quality.sh) gain 0.1 dB at twice its
// work and stop gaining at about 2048 paths, 0.25 to 0.36 dB above it.
const AdpcmSearchWidth kSearchLevels[kAdpcmQualityMax + 1] = {
    {1, 0, 0, 0}, {2, 1, 0, 0}, {16, 1, 1, 1}, {128, 1, 0, 4}};

const AdpcmSearchWidth& LevelOf(const AdpcmSearch& search) { return search.width; }

// The chip's reconstruction by step index and magnitude, and where the index goes next: a
// code's effect is two loads.
struct PlayTables {
  int32_t delta[kImaStepCount][8];
  int32_t next[kImaStepCount][8];
  uint64_t nearest[kImaStepCount];  // 2^34 / step: 4 x difference / step by a multiplication
  uint64_t bucket[kFinenessMax + 1][kImaStepCount];  // 2^(32 + fineness) / step, rounded up
};

const PlayTables& Plays() {
  static const PlayTables tables = [] {
    PlayTables t{};
    const StoredCodecTables stored = ImageCodecTables();
    for (int index = 0; index < kImaStepCount; ++index) {
      const int32_t step = StepOf(stored, index);
      for (int m = 0; m <= kLevels; ++m) {
        t.delta[index][m] = AdpcmDelta(step, m);
        t.next[index][m] = AdpcmNextIndex(index, m);
      }
      const uint64_t wide = static_cast<uint64_t>(step);
      t.nearest[index] = (uint64_t{1} << 34) / wide;
      for (int f = 0; f <= kFinenessMax; ++f) {
        t.bucket[f][index] = ((uint64_t{1} << (32 + f)) + wide - 1) / wide;
      }
    }
    return t;
  }();
  return tables;
}

// The merge key of a state: its step index and its predictor's bucket, by a multiplication
// where a division would be the slowest step of an expansion. Buckets stay below 2^21.
inline uint32_t MergeKey(int32_t predictor, int32_t index, const uint64_t* bucket) {
  const uint64_t offset = static_cast<uint64_t>(predictor + 32768);
  return static_cast<uint32_t>((offset * bucket[index]) >> 32) | static_cast<uint32_t>(index) << 21;
}

// Slots of the merge table: a power of two at least four times the expansions of a sample.
uint32_t MergeBits(uint32_t expansions) {
  uint32_t bits = 8;
  while ((1u << bits) < 4 * expansions) ++bits;
  return bits;
}

// The top bits of a multiplicative hash: 32 - shift of them.
inline uint32_t MergeSlot(uint32_t key, uint32_t shift) { return (key * 2654435761u) >> shift; }

// Classes of a cost above the cheapest survivor's: exact below 16, then eight to an octave.
constexpr int kRanks = 512;

inline uint32_t RankOf(uint64_t above) {
  if (above < 16) return static_cast<uint32_t>(above);
  const int top = std::bit_width(above) - 1;
  return static_cast<uint32_t>(top - 2) * 8 + static_cast<uint32_t>((above >> (top - 3)) & 7);
}

// The codes a survivor tries: the `span` magnitudes around the nearest with the sign of the
// difference, the window kept inside 0..7, then the lowest magnitudes with the other sign.
inline int TriedCodes(int32_t diff, uint64_t nearestScale, const AdpcmSearchWidth& level, uint8_t* codes) {
  const int sign = diff < 0 ? 8 : 0;
  const uint64_t magnitude = static_cast<uint64_t>(diff < 0 ? -static_cast<int64_t>(diff) : diff);
  const int span = 2 * level.radius + 1;
  const int nearest = static_cast<int>(std::min<uint64_t>((magnitude * nearestScale) >> 32, kLevels));
  const int low = Clamp(nearest - level.radius, 0, kLevels + 1 - span);
  int n = 0;
  for (int k = 0; k < span; ++k) codes[n++] = static_cast<uint8_t>(sign | (low + k));
  for (int m = 0; m < level.opposite; ++m) codes[n++] = static_cast<uint8_t>((sign ^ 8) | m);
  return n;
}

// The expansions of every survivor by the codes of one level, merged: an expansion whose merge
// key an earlier one of this sample holds keeps only the cheaper path (the earlier on a tie).
// The merge table maps a key to one expansion; a key that finds another key in its slot takes
// the slot, and a later expansion of the displaced key then stays a separate path.
uint32_t Expand(AdpcmSearch* search, int32_t target) {
  const AdpcmSearchWidth& level = LevelOf(*search);
  const PlayTables& plays = Plays();
  const uint64_t* bucket = plays.bucket[level.fineness];
  const uint32_t shift = 32 - MergeBits(static_cast<uint32_t>(search->key.size() - 2));
  const int32_t* predictors = search->kept.predictor.data();
  const int32_t* indexes = search->kept.index.data();
  const int64_t* costs = search->kept.cost.data();
  int32_t* outPredictor = search->predictor.data();
  int64_t* outCost = search->cost.data();
  uint32_t* outKey = search->key.data();
  uint16_t* outParent = search->parent.data();
  uint8_t* outCode = search->code.data();
  uint16_t* merge = search->merge.data();
  const uint32_t keptCount = search->keptCount;
  const uint32_t spare = static_cast<uint32_t>(search->key.size()) - 1;
  uint32_t count = 0;
  for (uint32_t slot = 0; slot < keptCount; ++slot) {
    const int32_t p = predictors[slot];
    const int32_t i = indexes[slot];
    const int64_t c = costs[slot];
    const int32_t* deltas = plays.delta[i];
    const int32_t* nexts = plays.next[i];
    uint8_t codes[16];
    const int tried = TriedCodes(target - p, plays.nearest[i], level, codes);
    for (int k = 0; k < tried; ++k) {
      const int code = codes[k];
      const int32_t d = deltas[code & 7];
      const int32_t predictor = (code & 8) ? std::max(p - d, -32768) : std::min(p + d, 32767);
      const int64_t error = target - predictor;
      const int64_t cost = c + error * error;
      const uint32_t key = MergeKey(predictor, nexts[code & 7], bucket);
      // Without branches, whose outcome is a coin toss here: a new key takes the next entry, a
      // held one its own, and a path that loses the merge is written to the spare entry past
      // the end. Entries count from 1; entry 0 holds a key no state has.
      uint16_t& entry = merge[MergeSlot(key, shift)];
      const uint32_t held = entry;
      const bool merges = outKey[held] == key;
      const uint32_t at = merges ? held : count + 1;
      const uint32_t to = (!merges || cost < outCost[at]) ? at : spare;
      count += merges ? 0 : 1;
      entry = static_cast<uint16_t>(at);
      outKey[to] = key;
      outPredictor[to] = predictor;
      outCost[to] = cost;
      outParent[to] = static_cast<uint16_t>(slot);
      outCode[to] = static_cast<uint8_t>(code);
    }
  }
  for (uint32_t j = 1; j <= count; ++j) merge[MergeSlot(outKey[j], shift)] = 0;
  return count;
}

// Samples in the history ring: two depths, a power of two, so that it wraps with a mask.
inline uint32_t RingOf(const AdpcmSearch& search) { return 2 * static_cast<uint32_t>(LevelOf(search).depth); }

// The first entry of a sample's row in the history ring.
inline uint32_t RowOf(const AdpcmSearch& search, uint32_t ring) {
  return ring * static_cast<uint32_t>(LevelOf(search).survivors);
}

// Keeps the cheapest expansions in the order they were offered, and their parents and codes as
// this sample's history row. Costs are ranked in classes eight to an octave above the cheapest
// survivor's (below which no expansion lies); the classes below the one where the count is
// reached survive whole, and of that one the earliest offered. No sort: two passes over the
// expansions and one over the classes.
void Survive(AdpcmSearch* search, uint32_t count) {
  const uint32_t survivors = static_cast<uint32_t>(LevelOf(*search).survivors);
  const int64_t* costs = search->cost.data();
  uint16_t* rank = search->rank.data();
  uint32_t cut = kRanks;
  uint32_t quota = survivors;
  if (count > survivors) {
    uint32_t classes[kRanks] = {};
    const int64_t floor = search->kept.cost[search->cheapest];
    for (uint32_t j = 1; j <= count; ++j) {
      rank[j] = static_cast<uint16_t>(RankOf(static_cast<uint64_t>(costs[j] - floor)));
      ++classes[rank[j]];
    }
    for (cut = 0; classes[cut] < quota; ++cut) quota -= classes[cut];
  }
  const uint32_t row = RowOf(*search, search->ring);
  const PlayTables& plays = Plays();
  const AdpcmPaths& kept = search->kept;
  AdpcmPaths& next = search->spare;
  uint32_t n = 0;
  int64_t cheapest = INT64_MAX;
  for (uint32_t j = 1; j <= count; ++j) {
    if (count > survivors) {
      if (rank[j] > cut || (rank[j] == cut && quota == 0)) continue;
      if (rank[j] == cut) --quota;
    }
    if (costs[j] < cheapest) cheapest = costs[j], search->cheapest = n;
    const uint16_t parent = search->parent[j];
    next.predictor[n] = search->predictor[j];
    next.index[n] = plays.next[kept.index[parent]][search->code[j] & 7];
    next.cost[n] = costs[j];
    next.origin[n] = kept.origin[parent];
    search->parents[row + n] = parent;
    search->codes[row + n] = search->code[j];
    ++n;
  }
  std::swap(search->kept, search->spare);
  search->keptCount = n;
}

// The codes of samples committed .. end - 1 on the path that holds slot at sample from - 1,
// packed two a byte onto out.
void EmitPath(AdpcmSearch* search, uint32_t slot, uint64_t from, uint64_t end, std::vector<uint8_t>* out) {
  const size_t count = static_cast<size_t>(end - search->committed);
  search->path.resize(count + 1);
  uint8_t* path = search->path.data();
  path[count] = 0;  // the low nibble of an odd count's last byte
  const uint16_t* parents = search->parents.data();
  const uint8_t* codes = search->codes.data();
  const uint32_t survivors = static_cast<uint32_t>(LevelOf(*search).survivors);
  const uint32_t mask = RingOf(*search) - 1;
  const uint32_t back = static_cast<uint32_t>(search->samples - from);  // below the ring's length
  uint32_t ring = search->ring + mask + 1 - back;
  uint64_t j = from;
  for (; j > end; --j) slot = parents[(--ring & mask) * survivors + slot];
  for (; j > search->committed; --j) {
    const uint32_t at = (--ring & mask) * survivors + slot;
    path[j - 1 - search->committed] = codes[at];
    slot = parents[at];
  }
  const size_t at = out->size();
  out->resize(at + AdpcmBytes(count));
  uint8_t* bytes = out->data() + at;
  for (size_t i = 0; i < count; i += 2) bytes[i / 2] = static_cast<uint8_t>(path[i] << 4 | path[i + 1]);
  search->committed = end;
}

// Commits the cheapest path up to one depth back and drops the survivors that left it before
// that; the rest are renumbered, with this sample's history row, and their costs start again
// from the cheapest. The survivors share their path up to one depth back, so they differ by the
// errors of at most two depths of samples (each below 2^32), and the next depth adds as much.
void Checkpoint(AdpcmSearch* search, std::vector<uint8_t>* out) {
  AdpcmPaths& kept = search->kept;
  const uint16_t origin = kept.origin[search->cheapest];
  const int64_t floor = kept.cost[search->cheapest];
  // The cheapest path held its origin one depth back, where the commit ends.
  const uint32_t depth = static_cast<uint32_t>(LevelOf(*search).depth);
  if (search->samples >= 2 * depth) {
    EmitPath(search, origin, search->samples - depth, search->samples - depth, out);
  }
  const uint32_t row = RowOf(*search, (search->ring - 1) & (RingOf(*search) - 1));
  uint32_t n = 0;
  for (uint32_t i = 0; i < search->keptCount; ++i) {
    if (kept.origin[i] != origin) continue;
    if (i == search->cheapest) search->cheapest = n;
    kept.predictor[n] = kept.predictor[i];
    kept.index[n] = kept.index[i];
    kept.cost[n] = kept.cost[i] - floor;
    kept.origin[n] = static_cast<uint16_t>(n);
    search->parents[row + n] = search->parents[row + i];
    search->codes[row + n] = search->codes[row + i];
    ++n;
  }
  search->keptCount = n;
}

// Level 1 at the cost of a few greedy encoders: two survivors, each tried with the two
// magnitudes whose deltas bracket its difference. The survivors are the cheapest expansion and
// the cheapest of those that do not merge with it: another step index, or a predictor at least a
// step away. With no such expansion the cheapest is kept twice; a copy never wins a tie, so it
// costs time and not quality.
//
// Level 1 runs on every sample of a long sound, so a sample's step is kept lean: a path is its
// state's merge key and its cost; the bracket comes from six comparisons that do not depend on
// each other; the choices are selections without branches (their outcome is a coin toss);
// everything a step index needs lies in one cache line; and a path carries its own codes, so
// that no history is kept per sample.
//
// A state's merge key is its step index times 2^17 plus its predictor plus 32768: two states
// merge when their keys lie less than a step apart, since keys of two step indices lie more than
// 2^17 - 65536 apart, further than any step.
constexpr int kKeyShift = 17;
constexpr int32_t kKeyPredictor = (1 << kKeyShift) - 1;

struct alignas(64) PairLine {
  int32_t delta[8];  // delta of each magnitude; those of 1..6 bound the bracket
  int32_t key[8];    // the merge key of the step index after each magnitude, predictor -32768
};

struct PairLines {
  PairLine at[kImaStepCount];
  int32_t width[kImaStepCount];  // the step: keys closer than it merge
};

const PairLines& PairLinesOf() {
  static const PairLines lines = [] {
    PairLines t{};
    const PlayTables& plays = Plays();
    const StoredCodecTables stored = ImageCodecTables();
    for (int index = 0; index < kImaStepCount; ++index) {
      PairLine& line = t.at[index];
      for (int m = 0; m <= kLevels; ++m) {
        line.delta[m] = plays.delta[index][m];
        line.key[m] = (plays.next[index][m] << kKeyShift) + 32768;
      }
      t.width[index] = StepOf(stored, index);
    }
    return t;
  }();
  return lines;
}

// A sample's four expansions, a field per array: 0 and 1 grow from the first path, 2 and 3 from
// the second, each with the lower magnitude first.
struct PairExpansions {
  int32_t key[4];
  int64_t rank[4];   // its cost times 4 plus its place: the least is the cheapest, the
                     // earliest on a tie
  uint32_t code[2];  // the lower magnitude's code of each path
};

// All ones where a condition holds: the selections of a sample are masks, not branches, whose
// outcome would be a coin toss.
template <typename T>
inline T MaskOf(bool holds) {
  return -static_cast<T>(holds);
}

// b where mask is all ones, else a.
template <typename T>
inline T Blend(T mask, T a, T b) {
  return a ^ ((a ^ b) & mask);
}

// The two expansions of the path at key: the magnitudes m and m + 1 whose deltas bracket the
// difference (0 and 1 below the first, 6 and 7 above the last).
inline void ExpandPath(const PairLines& lines, int32_t key, int64_t cost, int32_t target, PairExpansions* e, int at) {
  const PairLine& line = lines.at[key >> kKeyShift];
  const int32_t predictor = (key & kKeyPredictor) - 32768;
  const int32_t diff = target - predictor;
  const int32_t sign = diff >> 31;  // all ones below the prediction
  const int32_t magnitude = (diff ^ sign) - sign;
  uint32_t m = 0;
  // Unrolled, as the loops below: at -O2 they would stay loops, on the path from sample to sample.
#pragma GCC unroll 6
  for (int k = 1; k <= 6; ++k) m += static_cast<uint32_t>(magnitude) >= static_cast<uint32_t>(line.delta[k]);
  const int32_t deltaLow = line.delta[m];
  const int32_t deltaHigh = line.delta[m + 1];
  // The new prediction stays within 16 bits: room is the distance to the limit on the side
  // the prediction moves to.
  const int32_t room = Blend(sign, 32767 - predictor, predictor + 32768);
  const int32_t low = predictor + ((std::min(deltaLow, room) ^ sign) - sign);
  const int32_t high = predictor + ((std::min(deltaHigh, room) ^ sign) - sign);
  const int64_t errorLow = target - low;
  const int64_t errorHigh = target - high;
  e->key[at] = line.key[m] + low;
  e->key[at + 1] = line.key[m + 1] + high;
  e->rank[at] = (cost + errorLow * errorLow) << 2 | at;
  e->rank[at + 1] = (cost + errorHigh * errorHigh) << 2 | (at + 1);
  e->code[at / 2] = static_cast<uint32_t>((sign & 8) | m);
}

// Above any path's cost: costs restart at every checkpoint and stay below 2^40.
constexpr int64_t kMerged = int64_t{1} << 60;

// The least of four ranks: the cheapest expansion, the earliest on a tie.
inline int64_t Least4(const int64_t rank[4]) {
  return std::min(std::min(rank[0], rank[1]), std::min(rank[2], rank[3]));
}

// The survivors' origins, a bit each, after survivors that grew from parents a and b:
// kOriginsAfter[origins << 2 | a << 1 | b].
constexpr auto kOriginsAfter = [] {
  std::array<uint8_t, 16> after{};
  for (uint32_t i = 0; i < 16; ++i) {
    const uint32_t origins = i >> 2, a = (i >> 1) & 1, b = i & 1;
    after[i] = static_cast<uint8_t>(((origins >> a) & 1) | ((origins >> b) & 1) << 1);
  }
  return after;
}();

// One sample for the pair: its two survivors, each with its parent's codes and its own code at
// shift in the word of half kHalf of the depth; the first half's words leave the second's empty.
template <int kHalf>
inline void StepPair(const PairLines& lines, int32_t target, AdpcmPair* pair, uint32_t shift) {
  PairExpansions e;
  ExpandPath(lines, pair->key[0], pair->cost[0], target, &e, 0);
  ExpandPath(lines, pair->key[1], pair->cost[1], target, &e, 2);
  const int64_t best = Least4(e.rank);
  const uint32_t bestAt = static_cast<uint32_t>(best & 3);
  const int32_t bestKey = e.key[bestAt];
  // Keys within a step of the best's merge with it: those of another step index lie further.
  const int32_t width = lines.width[bestKey >> kKeyShift];
  const int32_t below = bestKey - width + 1;
  int64_t apart[4];
#pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) {
    const bool merges = static_cast<uint32_t>(e.key[j] - below) < static_cast<uint32_t>(2 * width - 1);
    apart[j] = e.rank[j] + (MaskOf<int64_t>(merges) & kMerged << 2);
  }
  const int64_t other = Least4(apart);
  const uint32_t otherAt = static_cast<uint32_t>(other & 3);
  pair->key[0] = bestKey;
  pair->cost[0] = best >> 2;
  pair->key[1] = e.key[otherAt];
  pair->cost[1] = (other >> 2) & (kMerged - 1);
  pair->origins = kOriginsAfter[pair->origins << 2 | (bestAt >> 1) << 1 | otherAt >> 1];
  const uint64_t* from = pair->codes[bestAt >> 1];
  const uint64_t* to = pair->codes[otherAt >> 1];
  const uint64_t words[2][2] = {{from[0], from[1]}, {to[0], to[1]}};
  pair->codes[0][kHalf] = words[0][kHalf] | static_cast<uint64_t>(e.code[bestAt >> 1] + (bestAt & 1)) << shift;
  pair->codes[1][kHalf] = words[1][kHalf] | static_cast<uint64_t>(e.code[otherAt >> 1] + (otherAt & 1)) << shift;
  if (kHalf == 1) {
    pair->codes[0][0] = words[0][0];
    pair->codes[1][0] = words[1][0];
  }
}

// Where the code of sample at of a depth lies in its word: the words hold the bytes of the
// sound in order, the earlier code of a byte in its high nibble.
inline uint32_t CodeShift(uint32_t at) { return 8 * (at % (kDepth / 2) / 2) + 4 * (1 - at % 2); }

// The first count codes of words onto out.
void EmitCodes(const uint64_t words[2], uint32_t count, AdpcmSearch* search, std::vector<uint8_t>* out) {
  const size_t at = out->size();
  out->resize(at + AdpcmBytes(count));
  uint8_t* bytes = out->data() + at;
  for (uint32_t i = 0; i < AdpcmBytes(count); ++i) bytes[i] = static_cast<uint8_t>(words[i / 8] >> (8 * (i % 8)));
  search->committed += count;
}

// Every depth: commits the codes of the depth before the last checkpoint on the cheapest path
// (the first), and drops the other path when it does not descend from them, keeping a copy of
// the first in its place; costs start again from the first's.
void PairCheckpoint(AdpcmSearch* search, AdpcmPair* pair, std::vector<uint8_t>* out) {
  const uint32_t origin = pair->origins & 1;
  if (search->samples >= 2 * kDepth) EmitCodes(pair->held[origin], kDepth, search, out);
  if ((pair->origins >> 1) != origin) {
    pair->key[1] = pair->key[0];
    pair->cost[1] = pair->cost[0];
    pair->codes[1][0] = pair->codes[0][0];
    pair->codes[1][1] = pair->codes[0][1];
    pair->origins = 0;
  } else {
    pair->origins = 2;
  }
  pair->cost[1] -= pair->cost[0];
  pair->cost[0] = 0;
  for (int k = 0; k < 2; ++k) {
    for (int h = 0; h < 2; ++h) {
      pair->held[k][h] = pair->codes[k][h];
      pair->codes[k][h] = 0;
    }
  }
}

// The sound's end: the rest of the cheapest path.
void FinishPair(AdpcmSearch* search, std::vector<uint8_t>* out) {
  const AdpcmPair& pair = search->pair;
  const uint64_t checkpoint = search->samples - search->samples % kDepth;
  if (search->committed < checkpoint) EmitCodes(pair.held[pair.origins & 1], kDepth, search, out);
  EmitCodes(pair.codes[0], static_cast<uint32_t>(search->samples % kDepth), search, out);
}

// Runs of samples up to the next half depth, where the codes move to the other word, and a
// checkpoint every depth.
void SearchTwoBlock(AdpcmSearch* search, const int32_t* samples, size_t n, std::vector<uint8_t>* out) {
  constexpr uint32_t kHalf = kDepth / 2;
  const PairLines& lines = PairLinesOf();
  AdpcmPair pair = search->pair;
  size_t s = 0;
  while (s < n) {
    const uint32_t at = static_cast<uint32_t>(search->samples % kDepth);
    const size_t run = std::min<size_t>(n - s, kHalf - at % kHalf);
    if (at < kHalf) {
      for (uint32_t r = 0; r < run; ++r) StepPair<0>(lines, Clamp(samples[s + r], -32768, 32767), &pair, CodeShift(at + r));
    } else {
      for (uint32_t r = 0; r < run; ++r) StepPair<1>(lines, Clamp(samples[s + r], -32768, 32767), &pair, CodeShift(at + r));
    }
    s += run;
    search->samples += run;
    if (search->samples % kDepth == 0) PairCheckpoint(search, &pair, out);
  }
  search->pair = pair;
}

void SearchSample(AdpcmSearch* search, int32_t sample, std::vector<uint8_t>* out) {
  Survive(search, Expand(search, Clamp(sample, -32768, 32767)));
  ++search->samples;
  search->ring = (search->ring + 1) & (RingOf(*search) - 1);
  if (search->ring % static_cast<uint32_t>(LevelOf(*search).depth) == 0) Checkpoint(search, out);
}

void SizePaths(AdpcmPaths* paths, size_t n) {
  paths->predictor.assign(n, 0);
  paths->index.assign(n, 0);
  paths->cost.assign(n, 0);
  paths->origin.assign(n, 0);
}

// Sizes a search of level 2 or up, or of a width of its own.
void SizeSearch(AdpcmSearch* search) {
  const AdpcmSearchWidth& level = LevelOf(*search);
  const size_t survivors = static_cast<size_t>(level.survivors);
  const size_t expansions = survivors * static_cast<size_t>(2 * level.radius + 1 + level.opposite);
  SizePaths(&search->kept, survivors);
  search->keptCount = 1;
  SizePaths(&search->spare, survivors);
  // Expansions count from 1, after the entry of no state's key, and before a spare entry.
  search->predictor.assign(expansions + 2, 0);
  search->cost.assign(expansions + 2, 0);
  search->key.assign(expansions + 2, ~uint32_t{0});
  search->parent.assign(expansions + 2, 0);
  search->code.assign(expansions + 2, 0);
  search->rank.assign(expansions + 2, 0);
  search->merge.assign(size_t{1} << MergeBits(static_cast<uint32_t>(expansions)), 0);
  search->parents.assign(RingOf(*search) * survivors, 0);
  search->codes.assign(RingOf(*search) * survivors, 0);
}

}  // namespace

bool AdpcmSearchWidthFits(const AdpcmSearchWidth& width) {
  if (width.radius < 0 || width.radius > 3 || width.opposite < 0 || width.opposite > 8 || width.fineness < 0 ||
      width.fineness > kFinenessMax || width.depth < 16 || width.depth > 1024 ||
      !std::has_single_bit(static_cast<unsigned>(width.depth))) {
    return false;
  }
  // Expansions and survivors are numbered in 16 bits, after the entry of no state and before
  // the spare one.
  const int codes = 2 * width.radius + 1 + width.opposite;
  const int64_t expansions = int64_t{width.survivors} * codes;
  return width.survivors >= 4 * codes && expansions + 2 <= 65535;
}

namespace {

void StartAtWidth(AdpcmSearch* search, const AdpcmSearchWidth& width) {
  *search = AdpcmSearch{};
  search->width = width;
  // The greedy encoder and the pair keep their own state.
  if (width.survivors > 2) SizeSearch(search);
}

}  // namespace

void StartAdpcmSearch(AdpcmSearch* search, int quality) {
  StartAtWidth(search, kSearchLevels[Clamp(quality, 0, kAdpcmQualityMax)]);
}

bool StartAdpcmWidthSearch(AdpcmSearch* search, const AdpcmSearchWidth& width) {
  if (!AdpcmSearchWidthFits(width)) return false;
  StartAtWidth(search, width);
  return true;
}

void SearchAdpcmBlock(AdpcmSearch* search, const int32_t* samples, size_t n, bool last,
                      std::vector<uint8_t>* out) {
  if (LevelOf(*search).survivors == 1) {
    out->resize(AdpcmBytes(n));
    EncodeAdpcmBlock(&search->greedy, samples, n, out->data());
    return;
  }
  out->clear();
  if (LevelOf(*search).survivors == 2) {
    SearchTwoBlock(search, samples, n, out);
    if (last) FinishPair(search, out);
    return;
  }
  for (size_t i = 0; i < n; ++i) SearchSample(search, samples[i], out);
  if (last && search->samples > search->committed) EmitPath(search, search->cheapest, search->samples, search->samples, out);
}

std::vector<uint8_t> SearchAdpcmSound(AdpcmSearch* search, const int32_t* samples, size_t n, size_t block) {
  block = block == 0 ? n : block + block % 2;
  std::vector<uint8_t> bytes, out;
  for (size_t at = 0; at < n; at += block) {
    const size_t count = std::min(block, n - at);
    SearchAdpcmBlock(search, samples + at, count, at + count == n, &out);
    bytes.insert(bytes.end(), out.begin(), out.end());
  }
  return bytes;
}
