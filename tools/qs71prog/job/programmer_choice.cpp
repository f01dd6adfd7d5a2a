#include "job/programmer_choice.h"

#include <cstdio>
#include <cstring>

namespace qs71prog {

namespace {

// A programmer or two more may be plugged in between counting and listing.
constexpr int32_t kRoomToSpare = 8;

bool IsNumber(const std::string& text) {
  if (text.empty() || text.size() > 6) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int BySerialOrPath(const std::vector<ProgrammerIdentity>& found, const std::string& wanted,
                   std::string& problem) {
  int chosen = -1;
  for (size_t index = 0; index < found.size(); ++index) {
    if (wanted == PathOf(found[index])) return static_cast<int>(index);
  }
  for (size_t index = 0; index < found.size(); ++index) {
    if (SerialOf(found[index]).empty() || wanted != SerialOf(found[index])) continue;
    if (chosen >= 0) {
      problem = DuplicateSerialWords(wanted) + "; name one by its id or path (qs71prog --list)";
      return -1;
    }
    chosen = static_cast<int>(index);
  }
  if (chosen < 0) {
    problem = "no attached programmer has the serial number or path \"" + wanted +
              "\" (qs71prog --list)";
  }
  return chosen;
}

}  // namespace

bool SameDevice(const ProgrammerIdentity& a, const ProgrammerIdentity& b) {
  return std::strcmp(a.node, b.node) == 0 && std::strcmp(a.info.serial, b.info.serial) == 0;
}

bool ListProgrammers(const WriterLibrary& library, std::vector<ProgrammerIdentity>& found,
                     std::string& problem) {
  found.clear();
  const auto list = library.ListIdentities();
  if (list == nullptr) {
    problem = library.Path() + " cannot list programmers (no Qs71UsbListIdentities)";
    return false;
  }
  int32_t count = list(nullptr, 0);
  for (int attempt = 0; count >= 0 && attempt < 3; ++attempt) {
    found.resize(static_cast<size_t>(count + kRoomToSpare));
    count = list(found.data(), static_cast<int32_t>(found.size()));
    if (count >= 0 && static_cast<size_t>(count) <= found.size()) {
      found.resize(static_cast<size_t>(count));
      return true;
    }
  }
  found.clear();
  problem = "the programmers cannot be listed (" + std::to_string(count) + ")";
  return false;
}

// A path names one device, a serial one only where no other programmer reports it.
int ChooseProgrammer(const std::vector<ProgrammerIdentity>& found, const std::string& wanted,
                     std::string& problem) {
  if (!IsNumber(wanted)) return BySerialOrPath(found, wanted, problem);
  const int number = std::stoi(wanted);
  if (number >= 1 && static_cast<size_t>(number) <= found.size()) return number - 1;
  problem = "no programmer " + wanted + ": " + std::to_string(found.size()) +
            (found.size() == 1 ? " is" : " are") + " attached (qs71prog --list)";
  return -1;
}

bool FindProgrammer(const WriterLibrary& library, const std::string& wanted,
                    ProgrammerIdentity& chosen, std::string& problem) {
  std::vector<ProgrammerIdentity> found;
  if (!ListProgrammers(library, found, problem)) return false;
  const int index = ChooseProgrammer(found, wanted, problem);
  if (index < 0) return false;
  chosen = found[static_cast<size_t>(index)];
  return true;
}

std::string DuplicateSerialWords(const std::string& serial) {
  return "two programmers report serial " + serial + ": they are told apart by their USB port";
}

std::string ProgrammerListText(const std::vector<ProgrammerIdentity>& found) {
  if (found.empty()) return "no programmer attached\n";
  std::string text = "id  path  serial  release\n";
  for (size_t index = 0; index < found.size(); ++index) {
    const Qs71ProgrammerInfo& info = found[index].info;
    char line[400];
    std::snprintf(line, sizeof line, "%zu  %s  %s  0x%04X\n", index + 1, info.path,
                  info.serial[0] != '\0' ? info.serial : "-", static_cast<unsigned>(info.release));
    text += line;
  }
  return text;
}

}  // namespace qs71prog
