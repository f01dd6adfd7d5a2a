#include "sha256.h"

#include <cstdio>
#include <cstring>

#include "hex.h"

namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr uint32_t kStart[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// One round with the eight working words named by position: the caller rotates the names
// instead of moving the words, so that a block's 64 rounds stay in registers.
inline void Round(uint32_t a, uint32_t b, uint32_t c, uint32_t& d, uint32_t e, uint32_t f, uint32_t g,
                  uint32_t& h, uint32_t kw) {
  const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kw;
  const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
  d += t1;
  h = t1 + t2;
}

}  // namespace

Sha256::Sha256() { std::memcpy(h_, kStart, sizeof h_); }

void Sha256::Block(const uint8_t* p) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i) w[i] = Be32(p + 4 * i);
  for (int i = 16; i < 64; ++i) {
    const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
  for (int i = 0; i < 64; i += 8) {
    Round(a, b, c, d, e, f, g, h, kRound[i] + w[i]);
    Round(h, a, b, c, d, e, f, g, kRound[i + 1] + w[i + 1]);
    Round(g, h, a, b, c, d, e, f, kRound[i + 2] + w[i + 2]);
    Round(f, g, h, a, b, c, d, e, kRound[i + 3] + w[i + 3]);
    Round(e, f, g, h, a, b, c, d, kRound[i + 4] + w[i + 4]);
    Round(d, e, f, g, h, a, b, c, kRound[i + 5] + w[i + 5]);
    Round(c, d, e, f, g, h, a, b, kRound[i + 6] + w[i + 6]);
    Round(b, c, d, e, f, g, h, a, kRound[i + 7] + w[i + 7]);
  }
  h_[0] += a, h_[1] += b, h_[2] += c, h_[3] += d, h_[4] += e, h_[5] += f, h_[6] += g, h_[7] += h;
}

void Sha256::Add(const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  length_ += n;
  while (n > 0) {
    // Whole blocks are hashed where they lie; only a partial one is gathered in the buffer.
    if (used_ == 0 && n >= 64) {
      Block(p);
      p += 64, n -= 64;
      continue;
    }
    const size_t take = n < 64 - used_ ? n : 64 - used_;
    std::memcpy(buffer_ + used_, p, take);
    used_ += take, p += take, n -= take;
    if (used_ == 64) Block(buffer_), used_ = 0;
  }
}

std::string Sha256::HexDigest() {
  const uint64_t bits = length_ * 8;
  const uint8_t pad = 0x80;
  Add(&pad, 1);
  const uint8_t zero = 0;
  while (used_ != 56) Add(&zero, 1);
  uint8_t tail[8];
  for (int i = 0; i < 8; ++i) tail[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  Add(tail, sizeof tail);
  std::string hex;
  for (uint32_t word : h_) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      AppendHexByte(hex, static_cast<uint8_t>(word >> shift));
    }
  }
  return hex;
}

std::string FileSha256(const char* path) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return {};
  Sha256 sha;
  uint8_t block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, file)) > 0) sha.Add(block, n);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok ? sha.HexDigest() : std::string();
}
