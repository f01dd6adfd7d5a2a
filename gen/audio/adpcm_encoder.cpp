#include "audio/adpcm_encoder.h"

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
