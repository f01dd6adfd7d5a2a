#include "job/programmer_hold.h"

#include <algorithm>

#include "qs71_usb_writer.h"

namespace qs71prog {

ProgrammerHold::~ProgrammerHold() {
  for (const std::string& path : held) library.Release()(path.empty() ? nullptr : path.c_str());
}

int32_t ProgrammerHold::Take(const std::string& path, const std::string& what,
                             std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  if (std::find(held.begin(), held.end(), path) != held.end()) return QS71_OK;
  char why[512] = "";
  const int32_t result = library.Hold()(path.empty() ? nullptr : path.c_str(), why, sizeof why);
  if (result == QS71_OK) {
    held.push_back(path);
    return result;
  }
  problem = what + (result == QS71_E_BUSY ? " is busy: " : " cannot be held: ") + why;
  return result;
}

void ProgrammerHold::Let(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex);
  const auto found = std::find(held.begin(), held.end(), path);
  if (found == held.end()) return;
  library.Release()(path.empty() ? nullptr : path.c_str());
  held.erase(found);
}

}  // namespace qs71prog
