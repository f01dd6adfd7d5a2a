#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "emulated_programmer.h"
#include "otp_chip.h"

namespace qs71::wine {

// What the programmer does to the report with this command byte (its first one).
struct PipeFault {
  enum Kind { kNone, kSilent, kUnplug, kShortReport } kind = kNone;
  uint8_t command = 0;
};

// The emulated programmer and chip of usbwriter/emulator behind a named pipe that the library
// opens by its device path: one pipe instance per handle, requests as 65-byte messages on the
// write handle's instance, replies (report ID 0 and 64 bytes) on the read handle's. Transfers
// on the library's side are Wine's own overlapped pipe I/O, cancellation included.
class PipeProgrammer {
 public:
  PipeProgrammer(const std::string& path, PipeFault fault);
  ~PipeProgrammer();
  PipeProgrammer(const PipeProgrammer&) = delete;
  PipeProgrammer& operator=(const PipeProgrammer&) = delete;

  const std::string& Path() const { return path; }
  const std::vector<uint8_t>& Cells() const { return chip.Cells(); }
  const std::string& Violations() const { return violations; }

  // For the library's kernel calls (kernel_hooks.cpp): an open waits until an instance
  // listens, a write until the programmer has taken the report and answered it if it will.
  void AwaitListening();
  void AwaitHandled();
  // An unplug waits for the library to be waiting on a read; true when it then happened.
  bool PullIfArmed();

 private:
  enum class Io { kDone, kFailed, kStopped, kPulled };
  void Serve();
  HANDLE NewInstance();
  Io Wait(HANDLE pipe, OVERLAPPED* overlapped, DWORD* count);
  Io Connect(HANDLE pipe);
  Io ReadRequest(HANDLE pipe, uint8_t* block, DWORD* count);
  bool Reply(HANDLE pipe, const uint8_t* reply, DWORD length);
  void Take(const uint8_t* block, DWORD count, HANDLE replies);

  std::string path;
  PipeFault fault;
  emu::OtpChip chip;
  emu::EmulatedProgrammer programmer;
  uint32_t seen[256] = {};
  bool silent = false;
  std::atomic<bool> armed{false};  // set by the server, taken by the library's thread
  std::string violations;
  HANDLE listening;
  HANDLE handled;
  HANDLE pull;
  HANDLE pulled;
  HANDLE stop;
  std::thread server;
};

}  // namespace qs71::wine
