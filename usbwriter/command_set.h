#pragma once

#include <cstdint>

namespace qs71 {

// Command bytes of the programmer firmware.
enum Command : uint8_t {
  kCmdInfo = 0x01,
  kCmd31 = 0x31,
  kCmd41 = 0x41,
  kCmd42 = 0x42,
  kCmd43 = 0x43,
  kCmd44 = 0x44,
  kCmd45 = 0x45,
  kCmd46 = 0x46,
  kCmd47 = 0x47,
  kCmd60 = 0x60,
  kCmd62 = 0x62,
  kCmd64 = 0x64,
  kCmd66 = 0x66,
  kCmd68 = 0x68,
  kCmd6A = 0x6A,
  kCmdOtpTestStart = 0x70,
  kCmdOtpTestStop = 0x71,
  kCmdGetOtpId = 0x72,
  kCmdWriteBegin = 0x73,
  kCmdWriteData = 0x74,
  kCmdWriteEnd = 0x75,
  kCmdReadBegin = 0x76,
  kCmdReadData = 0x77,
  kCmdReadEnd = 0x78,
  kCmdVerifyBegin = 0x79,
  kCmdVerifyData = 0x7A,
  kCmdVerifyEnd = 0x7B,
  kCmdControl = 0x7C,
};

// Request layout: multi-byte fields are little-endian, addresses are 24 bits.
inline constexpr int kOffsetVdd = 4;      // VDD set point or mode, and the VDD reading
inline constexpr int kOffsetVpp = 8;      // VPP set point or mode, "more data" flag, reading
inline constexpr int kOffsetValue = 12;   // value byte, word count, ID bytes 12..15
inline constexpr int kOffsetAddress = 16; // begin address
inline constexpr int kOffsetData = 32;    // 32 data bytes of a data command
inline constexpr int kDataChunk = 32;
inline constexpr int kOffsetMatch = 4;    // verify outcome in the reply to 0x7B
inline constexpr int kWordSlots = 24;     // words that fit at 16..63 of a control request
inline constexpr int kWordCountLimit = 48;

inline constexpr int kNoStatusCheck = -1;
inline constexpr int kNoEchoCheck = 0;

// What the command layer checks in a reply: the echo first (with the code a wrong echo
// gives), then the status byte.
struct ReplyRule {
  uint8_t command;
  int echoError;
  int status;
};

// The rule for a command; commands missing from the table are checked for nothing.
const ReplyRule& ReplyRuleFor(uint8_t command);

}  // namespace qs71
