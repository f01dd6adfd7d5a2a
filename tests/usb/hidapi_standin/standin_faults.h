#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qs71::standin {

// What real hardware and its kernel driver do that the emulated programmer cannot show.
// CMD is a command byte (0x75) or * for any; N counts that command's reports from 1, * for
// every one.
enum class FaultKind {
  kInitFails,        // init-fails               hid_init reports an error
  kOpenFails,        // open-fails               listed, but gone before it is opened
  kSecondOpenFails,  // second-open-fails        the first open works, the second does not
  kSilent,           // silent:CMD[:N]           from that report on, no reply ever comes
  kLateReply,        // late-reply:CMD[:N]       the reply comes after the read gave up
  kDuplicateReply,   // duplicate-reply:CMD[:N]  the reply comes twice
  kShortReport,      // short-report:CMD[:N]     the reply is a 16-byte report
  kInterrupt,        // eintr:CMD[:N]            the read waiting for that reply gets EINTR once
  kWriteStall,       // write-stall:CMD[:N]      the report is never taken (the USB time-out)
  kUnplug,           // unplug:CMD[:N]           the programmer is pulled while it is written
  kUnplugAwaited,    // unplug-awaited:CMD[:N]   taken, and pulled while its reply is awaited
  kCount
};

inline constexpr int kAnyCommand = -1;
inline constexpr uint32_t kEveryOccurrence = 0;

struct Fault {
  FaultKind kind = FaultKind::kInitFails;
  int command = kAnyCommand;
  uint32_t occurrence = 1;
};

// A comma-separated list; false, adding nothing, when an item is not understood.
bool ParseFaults(const std::string& text, std::vector<Fault>& faults);

// The faults that hit one report.
class FaultHits {
 public:
  void Set(FaultKind kind) { bits |= 1u << static_cast<unsigned>(kind); }
  bool Has(FaultKind kind) const { return (bits & (1u << static_cast<unsigned>(kind))) != 0; }

 private:
  uint32_t bits = 0;
};

class FaultList {
 public:
  void Add(const std::vector<Fault>& more);
  void Clear();
  bool Has(FaultKind kind) const;
  // Counts the report and returns the faults that hit it.
  FaultHits OnReport(uint8_t command);

 private:
  std::vector<Fault> faults;
  uint32_t perCommand[256] = {};
};

}  // namespace qs71::standin
