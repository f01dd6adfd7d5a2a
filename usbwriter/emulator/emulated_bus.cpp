#include "emulated_bus.h"

#include "text_format.h"  // Format

namespace qs71::emu {

std::string ProgrammerPath(int programmer) { return Format("emulated:%02d", programmer); }

std::string ProgrammerSerial(int programmer) { return Format("QS71EMU-%02d", programmer); }

int ProgrammerOfPath(const std::string& path) {
  if (path.empty()) return 1;
  for (int programmer = 1; programmer <= kMaxProgrammers; ++programmer) {
    if (path == ProgrammerPath(programmer)) return programmer;
  }
  return 0;
}

}  // namespace qs71::emu
