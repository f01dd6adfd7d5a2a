#include "audio/butterworth_filter.h"

#include <numbers>
#include <cmath>

#include "audio/fixed_grid.h"

void ButterworthFilter::Design(FilterPass pass, double hz, double rate, int order) {
  sections_.clear();
  const double w = 2 * std::numbers::pi * hz / rate;
  const double cosw = std::cos(w);
  const bool high = pass == FilterPass::High;
  // The poles of an order-N Butterworth pair up at angles (2k+1) pi / 2N from the imaginary
  // axis; each pair is a section of Q = 1 / (2 sin angle).
  for (int k = 0; k < order / 2; ++k) {
    const double q = 1 / (2 * std::sin(std::numbers::pi * (2 * k + 1) / (2.0 * order)));
    const double alpha = std::sin(w) / (2 * q);
    const double a0 = 1 + alpha;
    Section s;
    s.b0 = OnGrid((high ? 1 + cosw : 1 - cosw) / 2 / a0);
    s.b1 = OnGrid((high ? -(1 + cosw) : 1 - cosw) / a0);
    s.b2 = s.b0;
    s.a1 = OnGrid(-2 * cosw / a0);
    s.a2 = OnGrid((1 - alpha) / a0);
    sections_.push_back(s);
  }
  if (order % 2 == 1) {
    // The real pole: a first-order section, prewarped as the others are.
    const double t = std::tan(w / 2);
    Section s;
    s.b0 = OnGrid((high ? 1 : t) / (1 + t));
    s.b1 = high ? -s.b0 : s.b0;
    s.a1 = OnGrid((t - 1) / (t + 1));
    sections_.push_back(s);
  }
}

// Each sample through every section in turn: the sections' chains of dependent multiplies then
// overlap from one sample to the next, where a section at a time over the block would wait on
// each of them.
void ButterworthFilter::Run(double* x, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    double v = x[i];
    for (Section& s : sections_) {
      const double y = s.b0 * v + s.b1 * s.x1 + s.b2 * s.x2 - s.a1 * s.y1 - s.a2 * s.y2;
      s.x2 = s.x1, s.x1 = v, s.y2 = s.y1, s.y1 = y;
      v = y;
    }
    x[i] = v;
  }
}

double ButterworthHighpassLossDb(double cutoffHz, double rate, int order, double hz) {
  const double ratio = std::tan(std::numbers::pi * cutoffHz / rate) / std::tan(std::numbers::pi * hz / rate);
  return 10 * std::log10(1 + std::pow(ratio, 2 * order));
}
