#include "fit_spectrum.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

namespace {

constexpr size_t kWindow = SoundSpectrum::kWindowFrames;
// Half a window: the squares of sine windows over a sample then add up to the same for every
// sample, so that no part of the sound counts more than another.
constexpr size_t kHop = kWindow / 2;
constexpr size_t kBins = kWindow / 2 + 1;
// A tone takes its window's main lobe, 4 bins, and a little beside it: the strongest bins of a
// few tones.
constexpr size_t kStrongestBins = 64;

// libsoxr's very high quality response (power) across its transition, by fractions of the
// lower rate's half, measured at 48000 -> 16000, 44100 -> 4000 and 8000, 22050 -> 21333,
// 48000 -> 46545 and 16000 -> 11130 Hz and averaged.
struct ResponsePoint {
  double at;
  double power;
};
constexpr ResponsePoint kResponse[] = {
    {0.920, 0.99875}, {0.925, 0.99750}, {0.930, 0.99080}, {0.935, 0.96300}, {0.940, 0.88600},
    {0.945, 0.73000}, {0.950, 0.50600}, {0.955, 0.27640}, {0.960, 0.11150}, {0.965, 0.03150},
    {0.970, 0.00580}, {0.975, 0.00064}, {0.980, 0.00004}, {0.985, 0.0},
};
// Below this the response is flat; up to the transition it droops by up to kDroop at some ratios.
constexpr double kFlatTo = 0.70;
constexpr double kDroop = 0.002;

double Response(double at) {
  if (at <= kResponse[0].at) return at <= kFlatTo ? 1.0 : 1.0 - kDroop / 2;
  for (size_t i = 1; i < std::size(kResponse); ++i) {
    if (at <= kResponse[i].at) {
      const ResponsePoint& a = kResponse[i - 1];
      const ResponsePoint& b = kResponse[i];
      return a.power + (b.power - a.power) * (at - a.at) / (b.at - a.at);
    }
  }
  return 0.0;
}

// The transform of half a window, in place: radix 2 on separate real and imaginary parts (the
// library's complex product checks for infinities at every step, which costs more than the
// butterfly), its twiddle factors computed once.
constexpr size_t kHalf = kWindow / 2;

struct Twiddles {
  double cos[kHalf / 2], sin[kHalf / 2];      // of the half-window transform
  double unpackCos[kHalf + 1], unpackSin[kHalf + 1];  // e^(-2 pi i k / N), to split even and odd
  Twiddles() {
    for (size_t k = 0; k < kHalf / 2; ++k) {
      cos[k] = std::cos(2 * std::numbers::pi * static_cast<double>(k) / kHalf);
      sin[k] = -std::sin(2 * std::numbers::pi * static_cast<double>(k) / kHalf);
    }
    for (size_t k = 0; k <= kHalf; ++k) {
      unpackCos[k] = std::cos(2 * std::numbers::pi * static_cast<double>(k) / kWindow);
      unpackSin[k] = -std::sin(2 * std::numbers::pi * static_cast<double>(k) / kWindow);
    }
  }
};

const Twiddles& TwiddleTable() {
  static const Twiddles table;
  return table;
}

void Transform(double* re, double* im) {
  const Twiddles& t = TwiddleTable();
  for (size_t i = 1, j = 0; i < kHalf; ++i) {
    size_t bit = kHalf >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(re[i], re[j]), std::swap(im[i], im[j]);
  }
  for (size_t len = 2, stride = kHalf / 2; len <= kHalf; len <<= 1, stride >>= 1) {
    for (size_t i = 0; i < kHalf; i += len) {
      for (size_t k = 0; k < len / 2; ++k) {
        const double wr = t.cos[k * stride], wi = t.sin[k * stride];
        const size_t a = i + k, b = a + len / 2;
        const double vr = re[b] * wr - im[b] * wi, vi = re[b] * wi + im[b] * wr;
        re[b] = re[a] - vr, im[b] = im[a] - vi;
        re[a] += vr, im[a] += vi;
      }
    }
  }
}

}  // namespace

SoundSpectrum::SoundSpectrum(int32_t rate) : rate_(rate), taper_(kWindow), power_(kBins, 0.0) {
  // The sine window, whose square is Hann's: its side lobes fall 12 dB an octave, so what
  // leaks past the resampler's transition, some 15 bins away at the least, lies 60 dB down.
  for (size_t i = 0; i < kWindow; ++i) taper_[i] = std::sin(std::numbers::pi * (static_cast<double>(i) + 0.5) / kWindow);
  // Silence before the sound, as the resampler starts from, so that its first samples are
  // covered by as many windows as any other.
  pending_.assign(kWindow - kHop, 0.0);
}

void SoundSpectrum::Add(const int32_t* samples, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    pending_.push_back(samples[i]);
    if (pending_.size() == kWindow) {
      Window();
      pending_.erase(pending_.begin(), pending_.begin() + kHop);
    }
  }
}

void SoundSpectrum::Finish() {
  // And silence after it, until its last samples have been in as many windows as the rest.
  for (size_t padded = 0; padded < kWindow - kHop; padded += kHop) {
    pending_.resize(kWindow, 0.0);
    Window();
    pending_.erase(pending_.begin(), pending_.begin() + kHop);
  }
  pending_.clear();
  total_ = 0;
  for (double p : power_) total_ += p;
}

// The real window as a complex one of half the length: even samples real, odd imaginary.
void SoundSpectrum::Window() {
  double re[kHalf], im[kHalf];
  for (size_t i = 0; i < kHalf; ++i) re[i] = pending_[2 * i] * taper_[2 * i], im[i] = pending_[2 * i + 1] * taper_[2 * i + 1];
  Transform(re, im);
  const Twiddles& t = TwiddleTable();
  for (size_t k = 0; k <= kHalf; ++k) {
    const size_t a = k % kHalf, b = (kHalf - k) % kHalf;
    // even = (Z[k] + conj Z[N/2-k]) / 2, odd = (Z[k] - conj Z[N/2-k]) / 2i, X[k] = even + w^k odd
    const double er = (re[a] + re[b]) / 2, ei = (im[a] - im[b]) / 2;
    const double orr = (im[a] + im[b]) / 2, oi = -(re[a] - re[b]) / 2;
    const double xr = er + t.unpackCos[k] * orr - t.unpackSin[k] * oi;
    const double xi = ei + t.unpackCos[k] * oi + t.unpackSin[k] * orr;
    // Bins other than 0 and the half stand for two of the full transform.
    power_[k] += (xr * xr + xi * xi) * (k == 0 || k == kHalf ? 1.0 : 2.0);
  }
}

SoundSpectrum::AtRate SoundSpectrum::At(int32_t played) const {
  AtRate at;
  if (total_ <= 0 || played <= 0) return at;
  at.kept = 0;
  const bool resampled = played < rate_;
  // 4 sin^2(pi f / played) = 2 - 2 cos(2 pi f / played), the cosine stepped from bin to bin.
  const double step = 2 * std::numbers::pi * rate_ / kWindow / played;
  const double twice = 2 * std::cos(step);
  double cosine = 1, before = std::cos(step);  // at bins k and k - 1
  for (size_t k = 0; k < power_.size(); ++k) {
    const double x = static_cast<double>(k) * rate_ / kWindow / (played / 2.0);
    if (resampled && x >= 1.0) break;  // nothing kept from here on
    const double keeps = resampled ? Response(x) : 1.0;
    const double share = power_[k] / total_;
    at.kept += share * keeps;
    if (resampled && x > kFlatTo) at.uncertain += share;
    at.difference += share * keeps * (2 - 2 * cosine);
    const double next = twice * cosine - before;
    before = cosine, cosine = next;
  }
  return at;
}

double SoundSpectrum::Tonality() const {
  if (total_ <= 0) return 0;
  std::vector<double> sorted = power_;
  const size_t strongest = std::min(kStrongestBins, sorted.size());
  std::partial_sort(sorted.begin(), sorted.begin() + static_cast<long>(strongest), sorted.end(), std::greater<>());
  double top = 0;
  for (size_t i = 0; i < strongest; ++i) top += sorted[i];
  return top / total_;
}

double SoundSpectrum::StrongestHz() const {
  if (total_ <= 0) return 0;
  const size_t peak = static_cast<size_t>(std::max_element(power_.begin(), power_.end()) - power_.begin());
  double offset = 0;
  // A parabola through the logarithms of the peak and its neighbours finds the tone within a
  // hundredth of a bin in this window.
  if (peak > 0 && peak + 1 < power_.size() && power_[peak - 1] > 0 && power_[peak + 1] > 0) {
    const double a = std::log(power_[peak - 1]), b = std::log(power_[peak]), c = std::log(power_[peak + 1]);
    const double bend = a - 2 * b + c;
    if (bend < 0) offset = 0.5 * (a - c) / bend;
  }
  return (static_cast<double>(peak) + offset) * rate_ / kWindow;
}
