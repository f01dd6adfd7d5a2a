#include "job/programmer_hold.h"

#include <algorithm>

#include "qs71_usb_writer.h"

namespace qs71prog {

ProgrammerHold::~ProgrammerHold() {
  for (const ProgrammerIdentity& programmer : held) library.Release()(&programmer);
}

int32_t ProgrammerHold::Take(const ProgrammerIdentity& programmer, const std::string& what,
                             std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  const auto same = [&](const ProgrammerIdentity& other) { return SameDevice(other, programmer); };
  if (std::any_of(held.begin(), held.end(), same)) return QS71_OK;
  char why[512] = "";
  const int32_t result = library.Hold()(&programmer, why, sizeof why);
  if (result == QS71_OK) {
    held.push_back(programmer);
    return result;
  }
  problem = what + (result == QS71_E_BUSY ? " is busy: " : " cannot be held: ") + why;
  return result;
}

void ProgrammerHold::Let(const ProgrammerIdentity& programmer) {
  std::lock_guard<std::mutex> lock(mutex);
  const auto found = std::find_if(held.begin(), held.end(), [&](const ProgrammerIdentity& other) {
    return SameDevice(other, programmer);
  });
  if (found == held.end()) return;
  library.Release()(&*found);
  held.erase(found);
}

bool ProgrammerHold::Holds(const ProgrammerIdentity& programmer) {
  std::lock_guard<std::mutex> lock(mutex);
  return std::any_of(held.begin(), held.end(), [&](const ProgrammerIdentity& other) {
    return SameDevice(other, programmer);
  });
}

}  // namespace qs71prog
