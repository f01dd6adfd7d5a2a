#pragma once
// SHA-256 of an image, the fingerprint that ties a programmed part to the file it came from:
// qs71gen's map, qs71dump and qs71prog all print it in lower-case hex.

#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
 public:
  Sha256();
  void Add(const void* data, size_t n);
  // The digest as 64 lower-case hex digits; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Blocks(const uint8_t* p, size_t count);
  uint32_t h_[8];
  uint8_t buffer_[64];
  size_t used_ = 0;
  uint64_t length_ = 0;
};

// Whether the processor's SHA instructions hash the blocks (x86 with the SHA extensions); the
// digest is the same either way. Tests turn them off to check the portable rounds too.
bool Sha256UsesCpuInstructions();
void Sha256AllowCpuInstructions(bool allow);

// The digest of bytes in memory as hex.
std::string Sha256Hex(const void* data, size_t size);

// The digest of a whole file as hex, or an empty string when it cannot be read.
std::string FileSha256(const char* path);
