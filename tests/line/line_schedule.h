#pragma once
// A line's day of faults, drawn from a seed: what happens to which station, programmer or part,
// and when. The same seed and line give the same schedule, so that a schedule that broke an
// invariant can be run again from its seed alone.

#include <cstdint>
#include <string>
#include <vector>

namespace qs71line {

enum class FaultKind {
  kServerDown,    // the line's server stopped, started again after `seconds`
  kKillStation,   // the station killed with SIGKILL, started again after `seconds`
  kPullCable,     // the programmer's line taken off the bus, back after `seconds`
  kStuckCell,     // the next part fed to the socket has a cell that will not program
  kCrookedPart,   // the next part fed to the socket sits crooked until reseated after `seconds`
  kPutInAgain,    // a part taken out of the socket goes in again, whatever its verdict was
  kEventTwice,    // with the server away, the station's queued events doubled, then sent
};

struct Fault {
  double at = 0.0;       // seconds after the line started
  FaultKind kind = FaultKind::kServerDown;
  int station = 0;       // index into the line's stations
  int programmer = 1;    // 1-based, within the station
  double seconds = 0.0;  // how long the fault lasts, where it lasts
};

struct StationShape {
  std::string name;
  int programmers = 1;
  bool ownPidNamespace = false;  // started by unshare --pid --fork
};

struct Schedule {
  uint32_t seed = 0;
  int lot = 0;
  std::vector<Fault> faults;  // in time order
};

// Faults over the first `span` seconds of the line, a lot of 12 to 30 parts.
Schedule DrawSchedule(uint32_t seed, const std::vector<StationShape>& line, double span);

// "server down 2.1 s at 3.4 s", "kill B at 5.0 s, back after 1.2 s", ...
std::string Describe(const Fault& fault, const std::vector<StationShape>& line);

}  // namespace qs71line
