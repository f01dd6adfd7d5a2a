#include "emulated_bus.h"

#include <fstream>
#include <sstream>

#include "text_format.h"  // Format

namespace qs71::emu {

std::string ProgrammerPath(int programmer) { return Format("emulated:%02d", programmer); }

std::string ProgrammerSerial(int programmer) { return Format("QS71EMU-%02d", programmer); }

std::string BusEntry::Node() const {
  return Format("emulated %d", programmer) + (generation.empty() ? "" : "/" + generation);
}

namespace {

bool ReadEntry(const std::string& line, int count, BusEntry& entry) {
  std::istringstream fields(line);
  std::string rest;
  if (!(fields >> entry.programmer >> entry.path >> entry.serial)) return false;
  fields >> entry.generation;
  if (fields >> rest) return false;
  return entry.programmer >= 1 && entry.programmer <= count;
}

}  // namespace

bool BusEntries(const std::string& busFile, int count, std::vector<BusEntry>& entries,
                std::string& error) {
  entries.clear();
  if (busFile.empty()) {
    for (int programmer = 1; programmer <= count; ++programmer) {
      entries.push_back({programmer, ProgrammerPath(programmer), ProgrammerSerial(programmer), ""});
    }
    return true;
  }
  std::ifstream in(busFile);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.find_first_not_of(" \t\r") == std::string::npos || line[0] == '#') continue;
    BusEntry entry;
    if (!ReadEntry(line, count, entry)) {
      error = Format("%s:%d: a line is \"k PATH SERIAL [GENERATION]\" with k from 1 to %d",
                     busFile.c_str(), number, count);
      return false;
    }
    entries.push_back(entry);
  }
  return true;
}

const BusEntry* EntryOfPath(const std::vector<BusEntry>& entries, const std::string& path) {
  if (path.empty()) return entries.empty() ? nullptr : &entries.front();
  for (const BusEntry& entry : entries) {
    if (entry.path == path) return &entry;
  }
  return nullptr;
}

}  // namespace qs71::emu
