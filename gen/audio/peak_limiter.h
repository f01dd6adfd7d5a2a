#pragma once
// A look-ahead peak limiter, so that a loud target does not have to stop at the peak ceiling.
// The signal is delayed by the look-ahead; the gain each sample needs to stay within the
// ceiling is held at its lowest over the look-ahead, released toward unity over the release
// time, and smoothed by an average over the look-ahead. Every gain the average takes in is at
// most the gain a peak needs when it arrives, so no sample passes the ceiling, while the gain
// falls within the look-ahead (no click) and rises slowly (no pumping on speech). Before the
// first sample the gains are those the first look-ahead needs, so a sound loud from its very
// start is held within the ceiling too.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

struct LimiterSettings {
  int32_t ceiling;        // the largest magnitude let through, on the 16-bit scale
  int32_t lookahead;      // samples: the delay and the attack
  double release;         // per-sample factor of the way back toward unity gain
};

// The usual settings at a rate: 5 ms look-ahead, 80 ms release, the ceiling in dBFS.
LimiterSettings UsualLimiterSettings(double ceilingDbfs, int32_t rate);

class PeakLimiter {
 public:
  explicit PeakLimiter(const LimiterSettings& settings);

  // Takes samples on the 16-bit scale (any magnitude) and appends to *out the limited ones
  // that are ready, rounded to integers within the ceiling: lookahead samples behind.
  void Push(const double* x, size_t n, std::vector<int32_t>* out);
  // The samples still held back, once the input has ended.
  void Finish(std::vector<int32_t>* out);

  // The deepest gain reduction applied so far, in dB (0 or less).
  double DeepestDb() const;
  // Samples that left beyond the ceiling and were cut to it: none, by the design above; a
  // count kept so that a test, and a fault, can see one.
  int64_t Clipped() const { return clipped_; }

 private:
  void Take(double x, std::vector<int32_t>* out);
  void Prime(double held);

  LimiterSettings settings_;
  size_t span_;                                   // lookahead + 1
  int64_t taken_ = 0;
  std::vector<double> delayed_;                   // the last span_ inputs
  std::deque<std::pair<int64_t, double>> lowest_; // rising gains needed over the look-ahead
  double released_ = 1;
  std::vector<double> recent_;                    // the last span_ released gains
  double sum_;
  double deepest_ = 1;
  int64_t clipped_ = 0;
};
