#pragma once
// The preparation gives the same samples on every machine: whatever the math library computes
// (filter coefficients, thresholds, gains, time constants) is rounded to a fixed grid before
// use, far below any audible step and far above the last-place differences between math
// libraries. After that only the four basic operations touch the signal, which IEEE arithmetic
// rounds the same way everywhere.

#include <cmath>

constexpr int kGridBits = 40;

inline double OnGrid(double v) { return std::ldexp(std::nearbyint(std::ldexp(v, kGridBits)), -kGridBits); }
