#include "audio/adpcm_encoder.h"

#include <algorithm>

#include "codec_tables.h"

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
  int32_t row;                 // index * 16: the first of the lines that follow this index
};

struct StepLines {
  StepLine after[kImaStepCount * 16];  // the line of the index that follows index and code
  StepLine at[kImaStepCount];          // the line of each index, where a block begins
};

StepLine LineOf(int index) {
  const int32_t step = kImaStepTable[index];
  StepLine line{};
  int32_t below = 0;
  for (int k = 1; k <= kLevels; ++k) {
    const int32_t t = ((k & 4) ? step : 0) + ((k & 2) ? step >> 1 : 0) + ((k & 1) ? step >> 2 : 0);
    line.threshold[k - 1] = t;
    line.rise[k - 1] = t - below;
    below = t;
  }
  line.top = (step >> 3) + below;
  line.row = index * 16;
  return line;
}

void FillLines(StepLines* lines) {
  for (int index = 0; index < kImaStepCount; ++index) {
    lines->at[index] = LineOf(index);
    for (int code = 0; code < 16; ++code) {
      lines->after[index * 16 + code] =
          LineOf(Clamp(index + ImaIndexAdjust(code), 0, kImaStepCount - 1));
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
  const uint32_t code =
      static_cast<uint32_t>(kLevels + notReached) | (static_cast<uint32_t>(sign) & 8u);
  *current = after + line.row + code;
  return code;
}

}  // namespace

uint8_t AdpcmEncodeStep(AdpcmState* state, int32_t sample) {
  const StepLines& lines = Lines();
  const StepLine* line = &lines.at[state->index];
  const uint32_t code = EncodeSample(sample, lines.after, &line, &state->predictor);
  state->index = line->row / 16;
  return static_cast<uint8_t>(code);
}

size_t AdpcmBytes(size_t n) { return n / 2 + n % 2; }

void EncodeAdpcmBlock(AdpcmState* state, const int32_t* samples, size_t n, uint8_t* out) {
  const StepLines& lines = Lines();
  const StepLine* line = &lines.at[state->index];
  int32_t predictor = state->predictor;
  size_t i = 0;
  for (; i + 1 < n; i += 2) {
    const uint32_t high = EncodeSample(samples[i], lines.after, &line, &predictor);
    const uint32_t low = EncodeSample(samples[i + 1], lines.after, &line, &predictor);
    out[i / 2] = static_cast<uint8_t>(high << 4 | low);
  }
  if (i < n) {
    out[i / 2] = static_cast<uint8_t>(EncodeSample(samples[i], lines.after, &line, &predictor) << 4);
  }
  state->predictor = predictor;
  state->index = line->row / 16;
}

namespace {

// What each level searches: nodes kept per sample, magnitudes tried on either side of the
// greedy one, the lowest magnitudes also tried with the other sign, the commit depth, and how
// finely nodes merge: two nodes with one step index merge when their predictors lie in the same
// bucket of step / 2^fineness.
struct SearchLevel {
  int survivors;
  int radius;
  int opposite;
  int depth;
  int fineness;
};

constexpr int kFinenessMax = 2;

// Level 0 is the greedy encoder and searches nothing. Merging only equal predictors fills the
// kept set with near copies of one path; buckets as wide as a fraction of the step keep nodes
// that play apart, and on speech a 16-node search with them beats a 256-node one without.
// Finer buckets pay only with more nodes. Wider radii and deeper commits gain nothing.
const SearchLevel kSearchLevels[kAdpcmQualityMax + 1] = {
    {1, 0, 0, 2, 0}, {4, 1, 1, 32, 1}, {16, 1, 1, 32, 1}, {64, 1, 1, 32, 2}};

constexpr int kMergeSlots = 4096;  // a power of two, over twice the most candidates of a sample

const SearchLevel& LevelOf(const AdpcmSearch& search) { return kSearchLevels[search.quality]; }

// The chip's reconstruction by step index and magnitude, and where the index goes next: a
// code's effect is two loads.
struct PlayTables {
  int32_t delta[kImaStepCount][8];
  int32_t next[kImaStepCount][8];
  uint64_t bucket[kFinenessMax + 1][kImaStepCount];  // 2^(32 + fineness) / step, rounded up
};

const PlayTables& Plays() {
  static const PlayTables tables = [] {
    PlayTables t{};
    for (int index = 0; index < kImaStepCount; ++index) {
      const int32_t step = kImaStepTable[index];
      for (int m = 0; m <= kLevels; ++m) {
        t.delta[index][m] = (step >> 3) + ((m & 4) ? step : 0) + ((m & 2) ? step >> 1 : 0) + ((m & 1) ? step >> 2 : 0);
        t.next[index][m] = Clamp(index + ImaIndexAdjust(m), 0, kImaStepCount - 1);
      }
      const uint64_t wide = static_cast<uint64_t>(step);
      for (int f = 0; f <= kFinenessMax; ++f) {
        t.bucket[f][index] = ((uint64_t{1} << (32 + f)) + wide - 1) / wide;
      }
    }
    return t;
  }();
  return tables;
}

// The magnitude the greedy encoder picks for a difference, by the chip's successive approximation.
int GreedyMagnitude(int32_t magnitude, int32_t step) {
  int code = 0;
  for (int bit = 4; bit > 0; bit >>= 1, step >>= 1) {
    if (magnitude >= step) code |= bit, magnitude -= step;
  }
  return code;
}

// The merge key of a node: its step index and its predictor's bucket, by a multiplication
// where a division would be the slowest step of an expansion.
inline uint32_t MergeKey(int32_t predictor, int32_t index, const uint64_t* bucket) {
  const uint64_t offset = static_cast<uint64_t>(predictor + 32768);
  return static_cast<uint32_t>((offset * bucket[index]) >> 32) | static_cast<uint32_t>(index) << 17;
}

uint32_t MergeSlot(uint32_t key) {
  return (key * 2654435761u) >> 20;  // the top 12 bits
}

// Adds one expansion, or keeps only the cheaper of two paths with one merge key; of two equal
// ones the first offered stays. Candidates live in arrays sized once for the level: the inner
// loop neither allocates nor checks a capacity.
inline void Offer(AdpcmSearch* search, const AdpcmNode& node, uint16_t parent, int code,
                  int32_t target, uint32_t stamp, const PlayTables& plays, const uint64_t* bucket) {
  const int32_t delta = plays.delta[node.index][code & 7];
  const int32_t predictor = (code & 8) ? std::max(node.predictor - delta, -32768)
                                       : std::min(node.predictor + delta, 32767);
  const int64_t error = static_cast<int64_t>(target) - predictor;
  const int64_t cost = node.cost + error * error;
  const int32_t index = plays.next[node.index][code & 7];
  const uint32_t key = MergeKey(predictor, index, bucket);
  uint32_t* seen = search->seen.data();
  AdpcmNode* candidates = search->candidates.data();
  for (uint32_t slot = MergeSlot(key);; slot = (slot + 1) & (kMergeSlots - 1)) {
    const uint32_t entry = seen[slot];
    if ((entry & 0xFFFF0000u) != stamp) {
      const uint32_t at = search->candidateCount++;
      seen[slot] = stamp | at;
      candidates[at] = {predictor, index, cost, node.origin};
      search->links[at] = {parent, static_cast<uint8_t>(code)};
      return;
    }
    AdpcmNode& held = candidates[entry & 0xFFFF];
    if (MergeKey(held.predictor, held.index, bucket) != key) continue;
    if (cost < held.cost) {
      held = {predictor, index, cost, node.origin};
      search->links[entry & 0xFFFF] = {parent, static_cast<uint8_t>(code)};
    }
    return;
  }
}

void Expand(AdpcmSearch* search, int32_t target) {
  const SearchLevel& level = LevelOf(*search);
  const PlayTables& plays = Plays();
  const uint64_t* bucket = plays.bucket[level.fineness];
  search->candidateCount = 0;
  // Generation 0 in the table's top bits stands for an empty slot: it is skipped.
  if ((++search->generation & 0xFFFF) == 0) ++search->generation;
  const uint32_t stamp = (search->generation & 0xFFFF) << 16;
  for (uint32_t slot = 0; slot < search->nodeCount; ++slot) {
    const AdpcmNode node = search->nodes[slot];
    const int32_t diff = target - node.predictor;
    const int sign = diff < 0 ? 8 : 0;
    const int greedy = GreedyMagnitude(diff < 0 ? -diff : diff, kImaStepTable[node.index]);
    const int low = std::max(0, greedy - level.radius);
    const int high = std::min(kLevels, greedy + level.radius);
    const uint16_t parent = static_cast<uint16_t>(slot);
    for (int m = low; m <= high; ++m) Offer(search, node, parent, sign | m, target, stamp, plays, bucket);
    for (int m = 0; m < level.opposite; ++m) {
      Offer(search, node, parent, (sign ^ 8) | m, target, stamp, plays, bucket);
    }
  }
}

AdpcmLink* HistoryRow(AdpcmSearch* search, uint64_t sample) {
  const SearchLevel& level = LevelOf(*search);
  return &search->history[(sample % (2 * static_cast<uint64_t>(level.depth))) *
                          static_cast<size_t>(level.survivors)];
}

// Keeps the cheapest candidates in the order they were offered, and their links as this
// sample's history row. A candidate is ranked by its cost, then by the order it was offered in:
// the key is unique, so the kept set is the same with any standard library, and so is their
// order, which does not depend on the selection's. Costs stay below 2^39 (see Checkpoint),
// which leaves the low 16 bits for the candidate.
void Survive(AdpcmSearch* search) {
  const uint32_t count = search->candidateCount;
  const uint32_t keep = std::min(count, static_cast<uint32_t>(LevelOf(*search).survivors));
  uint64_t* order = search->order.data();
  const AdpcmNode* candidates = search->candidates.data();
  for (uint32_t i = 0; i < count; ++i) order[i] = static_cast<uint64_t>(candidates[i].cost) << 16 | i;
  // Keys below the bound survive: every key when all do, else the keep cheapest.
  uint64_t bound = ~uint64_t{0};
  if (keep < count) {
    std::nth_element(order, order + keep, order + count);
    bound = order[keep];
  }
  AdpcmLink* row = HistoryRow(search, search->samples);
  uint32_t kept = 0;
  uint64_t cheapest = ~uint64_t{0};
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t key = static_cast<uint64_t>(candidates[i].cost) << 16 | i;
    if (key >= bound) continue;
    if (key < cheapest) cheapest = key, search->cheapest = kept;
    search->nodes[kept] = candidates[i];
    row[kept++] = search->links[i];
  }
  search->nodeCount = kept;
}

// The codes of samples committed .. end - 1 on the path of the node in slot at sample end - 1,
// packed two a byte onto out.
void EmitPath(AdpcmSearch* search, uint16_t slot, uint64_t end, std::vector<uint8_t>* out) {
  search->codes.resize(end - search->committed);
  for (uint64_t j = search->samples; j-- > search->committed;) {
    const AdpcmLink link = HistoryRow(search, j)[slot];
    if (j < end) search->codes[j - search->committed] = link.code;
    slot = link.parent;
  }
  for (size_t i = 0; i < search->codes.size(); i += 2) {
    const uint8_t low = i + 1 < search->codes.size() ? search->codes[i + 1] : 0;
    out->push_back(static_cast<uint8_t>(search->codes[i] << 4 | low));
  }
  search->committed = end;
}

// Commits the cheapest path up to one depth back and drops the nodes that left it before that;
// the rest are renumbered, with this sample's history row, and their costs start again from
// the cheapest. The nodes kept share their path up to one depth back, so they differ by the
// errors of at most two depths of samples (each below 2^32), and the next depth adds as much.
void Checkpoint(AdpcmSearch* search, std::vector<uint8_t>* out) {
  const uint64_t depth = static_cast<uint64_t>(LevelOf(*search).depth);
  const AdpcmNode best = search->nodes[search->cheapest];
  if (search->samples >= 2 * depth) EmitPath(search, static_cast<uint16_t>(search->cheapest), search->samples - depth, out);
  AdpcmLink* row = HistoryRow(search, search->samples - 1);
  uint32_t count = 0;
  for (uint32_t i = 0; i < search->nodeCount; ++i) {
    if (search->nodes[i].origin != best.origin) continue;
    if (i == search->cheapest) search->cheapest = count;
    search->nodes[count] = search->nodes[i];
    search->nodes[count].cost -= best.cost;
    search->nodes[count].origin = count;
    row[count++] = row[i];
  }
  search->nodeCount = count;
}

void SearchSample(AdpcmSearch* search, int32_t sample, std::vector<uint8_t>* out) {
  Expand(search, Clamp(sample, -32768, 32767));
  Survive(search);
  ++search->samples;
  if (search->samples % static_cast<uint64_t>(LevelOf(*search).depth) == 0) Checkpoint(search, out);
}

}  // namespace

void StartAdpcmSearch(AdpcmSearch* search, int quality) {
  *search = AdpcmSearch{};
  search->quality = Clamp(quality, 0, kAdpcmQualityMax);
  if (search->quality == 0) return;
  const SearchLevel& level = LevelOf(*search);
  const size_t survivors = static_cast<size_t>(level.survivors);
  const size_t candidates = survivors * static_cast<size_t>(2 * level.radius + 1 + level.opposite);
  search->nodes.assign(survivors, AdpcmNode{0, 0, 0, 0});
  search->nodeCount = 1;
  search->candidates.resize(candidates);
  search->links.resize(candidates);
  search->order.resize(candidates);
  search->history.resize(2 * static_cast<size_t>(level.depth) * survivors);
  search->seen.assign(kMergeSlots, 0);
}

void SearchAdpcmBlock(AdpcmSearch* search, const int32_t* samples, size_t n, bool last,
                      std::vector<uint8_t>* out) {
  if (search->quality == 0) {
    out->resize(AdpcmBytes(n));
    EncodeAdpcmBlock(&search->greedy, samples, n, out->data());
    return;
  }
  out->clear();
  for (size_t i = 0; i < n; ++i) SearchSample(search, samples[i], out);
  if (last && search->samples > search->committed) {
    EmitPath(search, static_cast<uint16_t>(search->cheapest), search->samples, out);
  }
}
