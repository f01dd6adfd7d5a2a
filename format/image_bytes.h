#pragma once
// Reading an image that may be anything: every access is checked against the file's end, so
// that a damaged or foreign file gives a message, never a read past the buffer.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "byte_order.h"

class ImageBytes {
 public:
  explicit ImageBytes(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  int64_t size() const { return static_cast<int64_t>(bytes_.size()); }
  bool Has(int64_t pos, int64_t n) const { return pos >= 0 && n >= 0 && pos <= size() - n; }
  const uint8_t* At(int64_t pos) const { return bytes_.data() + pos; }
  uint8_t Byte(int64_t pos) const { return Has(pos, 1) ? bytes_[static_cast<size_t>(pos)] : 0xFF; }

  // n bytes, least significant first; false when they are not all inside the file.
  bool ReadLe(int64_t pos, int n, uint32_t* value) const {
    if (n < 1 || n > 4 || !Has(pos, n)) return false;
    *value = GetLittleEndian(At(pos), n);
    return true;
  }

  // Bytes in [pos, pos + n) that are not 0xFF, the value of blank OTP.
  int64_t CountUsed(int64_t pos, int64_t n) const {
    int64_t used = 0;
    for (int64_t i = 0; i < n; ++i) used += Byte(pos + i) != 0xFF;
    return used;
  }

 private:
  const std::vector<uint8_t>& bytes_;
};
