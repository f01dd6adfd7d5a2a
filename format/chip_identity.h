#pragma once
// The QS71 parts: what a part answers to the programmer's ID command and how large its OTP is.
// An image is programmed only into a part of exactly its size.

#include <cstdint>
#include <span>

namespace qs71 {

// Every QS71 part answers the ID command with 0x6D 0x61, a size code and a revision byte.
inline constexpr uint8_t kOtpIdByte0 = 0x6D;
inline constexpr uint8_t kOtpIdByte1 = 0x61;

struct OtpPart {
  uint8_t sizeCode;  // ID byte 2
  uint32_t size;     // bytes of OTP
};

// The parts, smallest first.
std::span<const OtpPart> OtpParts();

// OTP size in bytes for a size code (ID byte 2), 0 for a code no part carries.
uint32_t OtpSizeForCode(uint8_t sizeCode);

// Whether some part has exactly size bytes of OTP.
bool IsOtpSize(int64_t size);

}  // namespace qs71
