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

// One programmer as the bus shows it: which emulated programmer (its socket and chip), and
// the path and serial it is listed under.
struct BusEntry {
  int programmer = 0;
  std::string path;
  std::string serial;
};

// The programmers attached now. Without a bus file, programmers 1..count at their own paths
// and serials. A bus file (QS71_EMU_BUS) lists them instead, one a line, "k PATH SERIAL":
// it is read at every listing and every call, so that a test can plug a programmer in after
// a run began, pull it, bring it back on another path, or put another one on its path. A
// missing file is an empty bus; lines starting with '#' and blank lines are skipped. False,
// with error, for a line it cannot read or a programmer out of 1..count.
bool BusEntries(const std::string& busFile, int count, std::vector<BusEntry>& entries,
                std::string& error);

// The entry a path names, "" naming the first listed; null for none.
const BusEntry* EntryOfPath(const std::vector<BusEntry>& entries, const std::string& path);

}  // namespace qs71::emu
