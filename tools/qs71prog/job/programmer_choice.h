#pragma once

#include <string>
#include <vector>

#include "platform/writer_library.h"
#include "qs71_usb_writer.h"

namespace qs71prog {

// The programmer a job runs on: the first one found, or, named, the programmer at `path`.
struct ProgrammerLink {
  bool named = false;
  std::string path;

  // For the job calls: the path, or null for the first programmer found.
  const char* Programmer() const { return named ? path.c_str() : nullptr; }
};

// The programmers attached now, in the library's order (by path): programmer 1 is the first.
// False with problem set when the library cannot list them.
bool ListProgrammers(const WriterLibrary& library, std::vector<Qs71ProgrammerInfo>& found,
                     std::string& problem);

// The programmer `wanted` names among those listed: its number from 1, its serial number or
// its path. -1 when none matches; problem says why.
int ChooseProgrammer(const std::vector<Qs71ProgrammerInfo>& found, const std::string& wanted,
                     std::string& problem);

// Lists, then chooses; path receives the chosen programmer's path.
bool FindProgrammer(const WriterLibrary& library, const std::string& wanted, std::string& path,
                    std::string& problem);

// The text of --list: a header, then one line per programmer:
//   "1  /dev/hidraw3  serial QS71-0042  release 0x0101"
std::string ProgrammerListText(const std::vector<Qs71ProgrammerInfo>& found);

}  // namespace qs71prog
