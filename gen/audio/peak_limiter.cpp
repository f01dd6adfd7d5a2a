#include "audio/peak_limiter.h"

#include <algorithm>
#include <cmath>

#include "audio/fixed_grid.h"

namespace {

constexpr double kLookaheadSeconds = 0.005;
constexpr double kReleaseSeconds = 0.080;

}  // namespace

LimiterSettings UsualLimiterSettings(double ceilingDbfs, int32_t rate) {
  LimiterSettings s;
  s.ceiling = static_cast<int32_t>(std::min(32767.0, std::floor(OnGrid(32768 * std::pow(10.0, ceilingDbfs / 20)))));
  s.lookahead = std::max<int32_t>(1, static_cast<int32_t>(std::lround(kLookaheadSeconds * rate)));
  s.release = OnGrid(std::exp(-1 / (kReleaseSeconds * rate)));
  return s;
}

PeakLimiter::PeakLimiter(const LimiterSettings& settings)
    : settings_(settings),
      span_(static_cast<size_t>(settings.lookahead) + 1),
      delayed_(span_, 0.0),
      recent_(span_, 1.0),
      sum_(static_cast<double>(span_)) {}

void PeakLimiter::Take(double x, std::vector<int32_t>* out) {
  const double ceiling = settings_.ceiling;
  const double magnitude = std::fabs(x);
  const double needed = magnitude > ceiling ? ceiling / magnitude : 1.0;
  const int64_t t = taken_++;
  delayed_[static_cast<size_t>(t) % span_] = x;
  while (!lowest_.empty() && lowest_.back().second >= needed) lowest_.pop_back();
  lowest_.emplace_back(t, needed);
  while (lowest_.front().first <= t - static_cast<int64_t>(span_)) lowest_.pop_front();
  const int64_t n = t - settings_.lookahead;  // the sample that leaves now
  if (n < 0) return;
  // Held at the lowest gain needed from sample n to the end of the look-ahead, then let back
  // up toward unity no faster than the release.
  const double held = lowest_.front().second;
  if (n == 0) Prime(held);
  released_ = held < released_ ? held : held - (held - released_) * settings_.release;
  const size_t slot = static_cast<size_t>(n) % span_;
  sum_ += released_ - recent_[slot];
  recent_[slot] = released_;
  // Summed afresh once a span, so that rounding in the running sum never builds up.
  if (slot == span_ - 1) {
    sum_ = 0;
    for (double g : recent_) sum_ += g;
  }
  const double gain = std::min(1.0, sum_ / static_cast<double>(span_));
  deepest_ = std::min(deepest_, gain);
  const double y = std::nearbyint(delayed_[slot] * gain);
  clipped_ += std::fabs(y) > ceiling ? 1 : 0;
  out->push_back(static_cast<int32_t>(std::clamp(y, -ceiling, ceiling)));
}

// The average over the look-ahead reaches back before the first sample: had those gains been
// unity, a sound loud from its first sample would leave with too little reduction and be cut
// at the ceiling. They take the gain the first look-ahead needs, as if the signal had always
// been that loud.
void PeakLimiter::Prime(double held) {
  std::fill(recent_.begin(), recent_.end(), held);
  sum_ = held * static_cast<double>(span_);
  released_ = held;
}

void PeakLimiter::Push(const double* x, size_t n, std::vector<int32_t>* out) {
  for (size_t i = 0; i < n; ++i) Take(x[i], out);
}

void PeakLimiter::Finish(std::vector<int32_t>* out) {
  for (int32_t i = 0; i < settings_.lookahead; ++i) Take(0.0, out);
}

double PeakLimiter::DeepestDb() const { return 20 * std::log10(deepest_); }
