#include "programmer_access.h"

namespace qs71prog {

const char kUdevRuleName[] = "70-qs71-programmer.rules";

std::string AccessHint(const std::vector<ProgrammerNode>& programmers) {
  for (const ProgrammerNode& node : programmers) {
    if (node.accessible) continue;
    return std::string("the programmer is attached at ") + node.path +
           " but this user may not open it. Install the udev rule " + kUdevRuleName +
           " (packaging/udev/ in the sources, lib/udev/rules.d/ after cmake --install):\n"
           "  sudo cp " +
           kUdevRuleName +
           " /etc/udev/rules.d/\n"
           "  sudo udevadm control --reload-rules && sudo udevadm trigger\n"
           "then unplug the programmer and plug it in again.";
  }
  return "";
}

}  // namespace qs71prog
