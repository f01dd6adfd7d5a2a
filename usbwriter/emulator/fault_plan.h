#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qs71::emu {

// Faults the emulated programmer can be told to show. Each comes from one text item (the
// same syntax for the control interface and QS71_EMU_FAULTS; the emulator's guide (docs/emulator.md)
// lists them).
enum class FaultKind {
  kNoDevice,       // no-device
  kWriteOpenFails, // write-open-fails
  kReadOpenFails,  // read-open-fails
  kWriteFails,     // write-fails:CMD[:N]      the request never leaves the host
  kNoReply,        // no-reply:CMD[:N]         the reply never comes (time-out, simulated)
  kWrongEcho,      // wrong-echo:CMD[:N]       reply byte 0 inverted
  kWrongStatus,    // wrong-status:CMD[:N]     reply byte 1 inverted
  kReplyByte,      // reply-byte:CMD:OFFSET:VALUE[:N]
  kDisconnect,     // disconnect:N             gone after N requests
  kStuckCell,      // stuck:CELL[:BITS]        bits of a cell that will not program
  kNoHold,         // no-hold                  the part is attached without its hold
};

inline constexpr int kAnyCommand = -1;
inline constexpr uint32_t kEveryOccurrence = 0;

struct Fault {
  FaultKind kind = FaultKind::kNoDevice;
  int command = kAnyCommand;
  uint32_t occurrence = 1;  // which request of that command, from 1; 0 for all of them
  uint32_t offset = 0;      // reply-byte: which byte
  uint8_t value = 0;        // reply-byte: its value; stuck: the stuck bits
  uint32_t count = 0;       // disconnect: requests before the device is gone; stuck: cell
};

// Parses a comma-separated list; on a bad item returns false with a message and adds nothing.
bool ParseFaults(const std::string& text, std::vector<Fault>& faults, std::string& error);

// What the faults make of one request.
struct RequestFaults {
  bool writeFails = false;
  bool noReply = false;
  bool wrongEcho = false;
  bool wrongStatus = false;
  std::vector<std::pair<uint32_t, uint8_t>> replyBytes;  // offset, value

  void ApplyTo(uint8_t* reply) const;
};

class FaultPlan {
 public:
  explicit FaultPlan(std::vector<Fault> faults);

  bool Has(FaultKind kind) const;
  // Counts the request and returns the faults that hit it.
  RequestFaults OnRequest(uint8_t command);
  // True once the device has taken as many requests as a disconnect fault allows.
  bool Disconnected() const;
  const std::vector<Fault>& Faults() const { return faults; }

 private:
  bool Hits(const Fault& fault, uint8_t command) const;

  std::vector<Fault> faults;
  uint32_t perCommand[256] = {};
  uint32_t requests = 0;
};

}  // namespace qs71::emu
