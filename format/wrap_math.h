#pragma once
// Script arithmetic is signed 32-bit and wraps, as the chip tools always did, and the image
// positions derived from script values follow the same arithmetic. Every operation goes through
// uint32_t so that no expression has undefined behaviour in C++.

#include <cstdint>

inline int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t WrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
inline int32_t WrapNeg(int32_t a) { return static_cast<int32_t>(0u - static_cast<uint32_t>(a)); }
// Arithmetic shift right (sign bits shift in), defined for negative values since C++20.
inline int32_t ShiftRight(int32_t a, int n) { return a >> (n & 31); }

// Quotient truncated toward zero. Returns false (and leaves *q alone) for a divisor of 0 and
// for INT32_MIN / -1, whose quotient does not fit.
inline bool WrapDiv(int32_t a, int32_t b, int32_t* q) {
  if (b == 0 || (a == INT32_MIN && b == -1)) return false;
  *q = a / b;
  return true;
}
