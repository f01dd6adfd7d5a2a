#include "process_holds.h"

#include <map>
#include <mutex>
#include <vector>

#include "programmer_hold.h"
#include "qs71_usb_writer.h"
#include "usb_writer.h"

namespace qs71 {

namespace {

std::mutex holdsLock;
std::map<std::string, HeldShares>& Holds() {
  static std::map<std::string, HeldShares> holds;
  return holds;
}

// "" names the first programmer found, as it does for every call.
std::string FirstProgrammer() {
  std::vector<HidPortInfo> found;
  return QS71_USB_Writer::ListProgrammers(found) && !found.empty() ? found.front().path : "";
}

}  // namespace

int HoldForProcess(const std::string& programmer, std::string& why) {
  why.clear();
  std::lock_guard<std::mutex> guard(holdsLock);
  if (!programmer.empty() && Holds().count(programmer) != 0) return 0;
  std::string found;
  HeldShares shares;
  const int code = QS71_USB_Writer::HoldProgrammer(programmer, found, shares, why);
  if (code != 0) return code;
  // A second hold of the first programmer adds only a share of the same system hold.
  HeldShares& kept = Holds()[found];
  if (kept.empty()) kept = std::move(shares);
  return 0;
}

int ReleaseForProcess(const std::string& programmer) {
  const std::string path = programmer.empty() ? FirstProgrammer() : programmer;
  HeldShares gone;
  {
    std::lock_guard<std::mutex> guard(holdsLock);
    auto held = Holds().find(path);
    if (held == Holds().end()) return QS71_E_ARGUMENT;
    gone = std::move(held->second);
    Holds().erase(held);
  }
  return 0;
}

}  // namespace qs71
