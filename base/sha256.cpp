#include "sha256.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define QS71_SHA_EXTENSIONS 1
#endif

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

void PortableBlock(uint32_t* state, const uint8_t* p) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i) w[i] = Be32(p + 4 * i);
  for (int i = 16; i < 64; ++i) {
    const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4], f = state[5],
           g = state[6], h = state[7];
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
  const uint32_t words[8] = {a, b, c, d, e, f, g, h};
  for (int i = 0; i < 8; ++i) state[i] += words[i];
}

#ifdef QS71_SHA_EXTENSIONS
// The SHA extensions keep the state as two vectors, ABEF and CDGH, and run two rounds an
// instruction: about five times the portable rounds' speed, which the map's fingerprint of a
// whole image and qs71prog's check of the file it burns both feel.
__attribute__((target("sha,sse4.1"))) void ExtensionBlocks(uint32_t* state, const uint8_t* p,
                                                           size_t count) {
  const __m128i bigEndian = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  const __m128i* words = reinterpret_cast<const __m128i*>(state);
  const __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(words), 0xB1);
  const __m128i hgfe = _mm_shuffle_epi32(_mm_loadu_si128(words + 1), 0x1B);
  __m128i abef = _mm_alignr_epi8(dcba, hgfe, 8);
  __m128i cdgh = _mm_blend_epi16(hgfe, dcba, 0xF0);
  const __m128i* rounds = reinterpret_cast<const __m128i*>(kRound);
  for (; count > 0; --count, p += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    const __m128i* block = reinterpret_cast<const __m128i*>(p);
    __m128i w[4];  // the schedule's last sixteen words, four to a vector
    for (int i = 0; i < 4; ++i) w[i] = _mm_shuffle_epi8(_mm_loadu_si128(block + i), bigEndian);
    for (int g = 0; g < 16; ++g) {
      __m128i& next = w[g & 3];
      if (g >= 4) {
        const __m128i last = w[(g + 3) & 3];
        const __m128i sevenBack = _mm_alignr_epi8(last, w[(g + 2) & 3], 4);
        next = _mm_sha256msg2_epu32(
            _mm_add_epi32(_mm_sha256msg1_epu32(next, w[(g + 1) & 3]), sevenBack), last);
      }
      __m128i kw = _mm_add_epi32(next, _mm_loadu_si128(rounds + g));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, kw);
      kw = _mm_shuffle_epi32(kw, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, kw);
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  __m128i* out = reinterpret_cast<__m128i*>(state);
  _mm_storeu_si128(out, _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(out + 1, _mm_alignr_epi8(dchg, feba, 8));
}

bool ProcessorHasShaExtensions() {
  unsigned eax, ebx, ecx, edx;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0 || (ebx & (1u << 29)) == 0) return false;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_SSE4_1) != 0 &&
         (ecx & bit_SSSE3) != 0;
}
#else
void ExtensionBlocks(uint32_t*, const uint8_t*, size_t) {}
bool ProcessorHasShaExtensions() { return false; }
#endif

std::atomic<bool> extensionsAllowed{true};

bool UseExtensions() {
  static const bool present = ProcessorHasShaExtensions();
  return present && extensionsAllowed.load(std::memory_order_relaxed);
}

}  // namespace

bool Sha256UsesCpuInstructions() { return UseExtensions(); }
void Sha256AllowCpuInstructions(bool allow) { extensionsAllowed = allow; }

Sha256::Sha256() { std::memcpy(h_, kStart, sizeof h_); }

void Sha256::Blocks(const uint8_t* p, size_t count) {
  if (UseExtensions()) return ExtensionBlocks(h_, p, count);
  for (; count > 0; --count, p += 64) PortableBlock(h_, p);
}


void Sha256::Add(const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  length_ += n;
  while (n > 0) {
    // Whole blocks are hashed where they lie; only a partial one is gathered in the buffer.
    if (used_ == 0 && n >= 64) {
      const size_t whole = n / 64;
      Blocks(p, whole);
      p += 64 * whole, n -= 64 * whole;
      continue;
    }
    const size_t take = n < 64 - used_ ? n : 64 - used_;
    std::memcpy(buffer_ + used_, p, take);
    used_ += take, p += take, n -= take;
    if (used_ == 64) Blocks(buffer_, 1), used_ = 0;
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

std::string Sha256Hex(const void* data, size_t size) {
  Sha256 sha;
  sha.Add(data, size);
  return sha.HexDigest();
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
