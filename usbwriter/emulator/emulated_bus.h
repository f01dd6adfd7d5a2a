#pragma once

#include <string>
#include <vector>

namespace qs71::emu {

// The emulated programmers on their bus: programmer k (from 1) has the path "emulated:kk"
// (two digits, so that the order by path is the order by number) and the serial "QS71EMU-kk".
inline constexpr int kMaxProgrammers = 99;
inline constexpr unsigned kEmulatedRelease = 0x0101;

std::string ProgrammerPath(int programmer);
std::string ProgrammerSerial(int programmer);

// One programmer as the bus shows it: which emulated programmer (its socket and chip), the
// path and serial it is listed under, and its node's generation (empty for the first).
struct BusEntry {
  int programmer = 0;
  std::string path;
  std::string serial;
  std::string generation;

  // The node's own identity, as a real port gives a hidraw node's device and inode:
  // "emulated 2", "emulated 2/7" for the node made again with generation 7.
  std::string Node() const;
};

// The programmers attached now. Without a bus file, programmers 1..count at their own paths
// and serials. A bus file (QS71_EMU_BUS) lists them instead, one a line,
// "k PATH SERIAL [GENERATION]": it is read at every listing and every call, so that a test
// can plug a programmer in after a run began, pull it, bring it back on another path, put
// another one on its path, give two programmers one serial, reorder the bus, or make a
// programmer's node again where it is (another generation: what hidraw does when a device
// goes and comes back at the same /dev/hidrawN). A missing file is an empty bus; lines
// starting with '#' and blank lines are skipped. False, with error, for a line it cannot
// read or a programmer out of 1..count.
bool BusEntries(const std::string& busFile, int count, std::vector<BusEntry>& entries,
                std::string& error);

// The entry a path names, "" naming the first listed; null for none.
const BusEntry* EntryOfPath(const std::vector<BusEntry>& entries, const std::string& path);

}  // namespace qs71::emu
