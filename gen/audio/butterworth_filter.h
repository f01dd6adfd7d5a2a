#pragma once
// A Butterworth filter of order 1 to 8, high- or low-pass, as a cascade of second-order
// sections (and one first-order section for an odd order). Each section is the bilinear
// transform prewarped at the cut-off, so the cascade is maximally flat and exactly -3 dB at the
// cut-off whatever the order; each order adds 6 dB an octave beyond it.

#include <cstddef>
#include <vector>

enum class FilterPass { High, Low };

class ButterworthFilter {
 public:
  // hz below rate / 2; the coefficients are rounded to the fixed grid.
  void Design(FilterPass pass, double hz, double rate, int order);
  bool On() const { return !sections_.empty(); }
  // In place, carrying its state from one block to the next.
  void Run(double* x, size_t n);

 private:
  struct Section {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  };
  std::vector<Section> sections_;
};

// What the high-pass ButterworthFilter designs for cutoffHz, order and rate takes off at hz, in
// dB (0 or more): the analog curve at the frequencies the bilinear transform warps.
double ButterworthHighpassLossDb(double cutoffHz, double rate, int order, double hz);
