#pragma once

#include <string>
#include <vector>

namespace qs71prog {

// A QS71 programmer (04D8:FE08, release 0x0101) as the system lists it.
struct ProgrammerNode {
  std::string path;         // /dev/hidrawN on Linux
  bool accessible = false;  // this user may open it for reading and writing
};

// The programmers attached now. Linux asks hidapi (programmer_access_linux.cpp); on Windows
// any user may open a HID device, so there is nothing to look for there.
std::vector<ProgrammerNode> FindProgrammers();

// The name of the udev rule that packaging/udev/ installs.
extern const char kUdevRuleName[];

// When the library found no usable programmer but one is attached that this user may not
// open: what to do about it. Empty otherwise.
std::string AccessHint(const std::vector<ProgrammerNode>& programmers);

}  // namespace qs71prog
