#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace qs71::emu {

// What the last emulated programmer saw, kept after the library has closed it so that tests
// can look: requests per command byte, replies delivered, the last exchange and the chip.
struct SessionRecord {
  std::array<uint32_t, 256> requests{};
  uint32_t totalRequests = 0;
  uint32_t replies = 0;
  std::array<uint8_t, 64> lastRequest{};
  std::array<uint8_t, 64> lastReply{};
  std::vector<uint8_t> otp;

  void Reset() { *this = SessionRecord(); }
};

// The record of the programmer whose call began last.
SessionRecord& LastSession();
void ResetSessions();
// The records' lock across a fork (hid_port.h's HidPortLockForFork).
void LockSessionsForFork();
void UnlockSessionsAfterFork();

}  // namespace qs71::emu
