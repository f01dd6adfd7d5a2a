#include "job/programmer_choice.h"

#include <cstdio>

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

}  // namespace

bool ListProgrammers(const WriterLibrary& library, std::vector<Qs71ProgrammerInfo>& found,
                     std::string& problem) {
  found.clear();
  const auto list = library.ListProgrammers();
  if (list == nullptr) {
    problem = library.Path() + " cannot list programmers (no Qs71UsbListProgrammers)";
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

int ChooseProgrammer(const std::vector<Qs71ProgrammerInfo>& found, const std::string& wanted,
                     std::string& problem) {
  if (IsNumber(wanted)) {
    const int number = std::stoi(wanted);
    if (number >= 1 && static_cast<size_t>(number) <= found.size()) return number - 1;
    problem = "no programmer " + wanted + ": " + std::to_string(found.size()) +
              (found.size() == 1 ? " is" : " are") + " attached (qs71prog --list)";
    return -1;
  }
  for (size_t index = 0; index < found.size(); ++index) {
    if (wanted == found[index].path ||
        (found[index].serial[0] != '\0' && wanted == found[index].serial)) {
      return static_cast<int>(index);
    }
  }
  problem =
      "no attached programmer has the serial number or path \"" + wanted + "\" (qs71prog --list)";
  return -1;
}

bool FindProgrammer(const WriterLibrary& library, const std::string& wanted, std::string& path,
                    std::string& problem) {
  std::vector<Qs71ProgrammerInfo> found;
  if (!ListProgrammers(library, found, problem)) return false;
  const int index = ChooseProgrammer(found, wanted, problem);
  if (index < 0) return false;
  path = found[static_cast<size_t>(index)].path;
  return true;
}

std::string ProgrammerListText(const std::vector<Qs71ProgrammerInfo>& found) {
  if (found.empty()) return "no programmer attached\n";
  std::string text = "id  path  serial  release\n";
  for (size_t index = 0; index < found.size(); ++index) {
    const Qs71ProgrammerInfo& info = found[index];
    char line[400];
    std::snprintf(line, sizeof line, "%zu  %s  %s  0x%04X\n", index + 1, info.path,
                  info.serial[0] != '\0' ? info.serial : "-", static_cast<unsigned>(info.release));
    text += line;
  }
  return text;
}

}  // namespace qs71prog
