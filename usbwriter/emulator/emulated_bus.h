#pragma once

#include <string>

namespace qs71::emu {

// The emulated programmers on their bus: programmer k (from 1) has the path "emulated:kk"
// (two digits, so that the order by path is the order by number) and the serial "QS71EMU-kk".
inline constexpr int kMaxProgrammers = 99;
inline constexpr unsigned kEmulatedRelease = 0x0101;

std::string ProgrammerPath(int programmer);
std::string ProgrammerSerial(int programmer);
// The programmer a path names: 1 for an empty path (the first one found), 0 for none.
int ProgrammerOfPath(const std::string& path);

}  // namespace qs71::emu
