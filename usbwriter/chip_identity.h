#pragma once

#include <cstdint>

namespace qs71 {

// Every QS71 part answers the ID command with 0x6D 0x61, a size code and a revision byte.
inline constexpr uint8_t kOtpIdByte0 = 0x6D;
inline constexpr uint8_t kOtpIdByte1 = 0x61;

// OTP size in bytes for a size code (ID byte 2), 0 for a code no part carries.
uint32_t OtpSizeForCode(uint8_t sizeCode);

}  // namespace qs71
