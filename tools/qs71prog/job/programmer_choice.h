#pragma once

#include <string>
#include <vector>

#include "platform/writer_library.h"
#include "qs71_usb_writer.h"

namespace qs71prog {

// A programmer is its device, known by two things: its node and its serial
// (Qs71ProgrammerIdentity, as the library lists it). The path only says where the device is
// now; a node that changed is another device.
using ProgrammerIdentity = Qs71ProgrammerIdentity;

inline std::string PathOf(const ProgrammerIdentity& programmer) { return programmer.info.path; }
inline std::string SerialOf(const ProgrammerIdentity& programmer) { return programmer.info.serial; }
inline std::string NodeOf(const ProgrammerIdentity& programmer) { return programmer.node; }
// One device: the same node and the same serial.
bool SameDevice(const ProgrammerIdentity& a, const ProgrammerIdentity& b);

// The programmer every call of a job goes to, chosen once: the device itself once one is
// named; none while nothing was attached to choose from (the call then fails as a missing
// programmer does).
struct ProgrammerLink {
  bool named = false;
  ProgrammerIdentity identity{};

  // For the job calls' identity field: there is always one, so that no call of a job goes to
  // whichever programmer is first at the time. With none chosen (none was attached) it names no
  // device: a programmer plugged in later is not the job's, and its calls fail as with none.
  const ProgrammerIdentity* Identity() const { return &identity; }
  std::string Path() const { return named ? PathOf(identity) : ""; }
};

// The attached programmers now, in the library's order (by path): programmer 1 is the first.
// False with problem set when the library cannot list them.
bool ListProgrammers(const WriterLibrary& library, std::vector<ProgrammerIdentity>& found,
                     std::string& problem);

// The programmer `wanted` names among those listed: its number from 1, its serial number or
// its path. -1 when none matches, or when the serial is one that two programmers report;
// problem says why.
int ChooseProgrammer(const std::vector<ProgrammerIdentity>& found, const std::string& wanted,
                     std::string& problem);

// Lists, then chooses; chosen receives the programmer.
bool FindProgrammer(const WriterLibrary& library, const std::string& wanted,
                    ProgrammerIdentity& chosen, std::string& problem);

// "two programmers report serial X: they are told apart by their USB port"
std::string DuplicateSerialWords(const std::string& serial);

// The text of --list: a header, then one line per programmer:
//   "1  /dev/hidraw3  serial QS71-0042  release 0x0101"
std::string ProgrammerListText(const std::vector<ProgrammerIdentity>& found);

}  // namespace qs71prog
