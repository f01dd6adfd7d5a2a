#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fault_plan.h"
#include "otp_chip.h"

namespace qs71::emu {

// What the emulated programmer presents for one call of the library.
struct EmulatorSettings {
  ChipId id = {0x6D, 0x61, 0x02, 0x00};  // a good 256 KiB part
  std::string otpFile;                   // empty: a fresh chip every call
  std::string transcript;                // empty: no transcript
  std::vector<Fault> faults;
  uint32_t paceMicros = 0;  // the least time a request takes, 0 for as fast as it goes
  // The device's hardware-ID list, '|' between the strings, most specific first.
  std::string hardwareIds = "HID\\VID_04D8&PID_FE08&REV_0101|HID\\VID_04D8&PID_FE08";
  std::vector<std::pair<uint32_t, uint8_t>> presets;  // cell, value
  int programmers = 1;  // how many programmers are attached
  std::string socket;   // the folder the sockets take their parts from; empty: no sockets
  std::string bus;      // the bus file (emulated_bus.h); empty: programmers 1..programmers
  // The operator who takes finished parts out of the sockets (emulated_socket.h): seconds
  // after the host began to wait; kNoOperator (-1): parts stay until a test takes them out.
  int operatorSeconds = -1;
  std::string holdRecord;  // where calls that reach a part without its hold are recorded
};

// Settings made through the control interface. They outlive calls, take precedence over the
// environment and stay until Reset().
struct ControlSettings {
  std::optional<ChipId> id;
  std::optional<std::string> otpFile;
  std::optional<std::string> transcript;
  std::optional<std::string> hardwareIds;
  std::optional<int> programmers;
  std::vector<Fault> faults;
  std::vector<std::pair<uint32_t, uint8_t>> presets;

  void Reset() { *this = ControlSettings(); }
};

ControlSettings& Control();
// The host changes the control settings while calls on other threads read them; both hold
// this lock.
std::mutex& ControlLock();

// Defaults, then the QS71_EMU_* environment variables, then the control settings. False with
// a message when an environment variable cannot be understood.
bool CurrentSettings(EmulatorSettings& settings, std::string& error);

// The longest pace accepted, 100 ms a request: slower than any real programmer.
constexpr uint32_t kMaxPaceMicros = 100000;
// The longest an emulated operator lets a finished part sit: an hour.
constexpr int kMaxOperatorSeconds = 3600;

// The folder programmer k of n takes its parts from: the socket folder itself for a single
// programmer, its subfolder k otherwise.
std::string SocketFolderOf(const EmulatorSettings& settings, int programmer);

// Parses "6D610200" (four bytes as eight hex digits).
bool ParseChipId(const std::string& text, ChipId& id);

}  // namespace qs71::emu
