#include "process_holds.h"

#include <cerrno>
#include <iterator>
#include <map>
#include <mutex>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>
#endif

#include "programmer_hold.h"
#include "qs71_usb_writer.h"
#include "usb_writer.h"

namespace qs71 {

namespace {

// One device this process holds: where it was held, and the shares of its system holds.
struct Kept {
  std::string path;
  HeldShares shares;
};

std::mutex holdsLock;
std::map<std::string, Kept>& Holds() {  // by node
  static std::map<std::string, Kept> holds;
  return holds;
}

// The node at a path now, or of the first programmer for none; empty when nothing is there.
std::string NodeNow(const std::string& path, std::string& where) {
  std::vector<HidPortInfo> found;
  if (!QS71_USB_Writer::ListProgrammers(found) || found.empty()) return "";
  for (const HidPortInfo& info : found) {
    if (path.empty() ? &info == &found.front() : info.path == path) {
      where = info.path;
      return info.node;
    }
  }
  return "";
}

std::map<std::string, Kept>::iterator HeldFor(const ProgrammerName& name) {
  std::map<std::string, Kept>& holds = Holds();
  if (name.exact) return holds.find(name.node);
  std::string where;
  const auto now = holds.find(NodeNow(name.path, where));
  if (now != holds.end()) return now;
  const std::string& path = where.empty() ? name.path : where;
  for (auto held = holds.begin(); held != holds.end(); ++held) {
    if (held->second.path == path) return held;
  }
  return holds.end();
}

#if !defined(_WIN32)
// Until a child forked while this process held something has closed its copies of the
// descriptors, the system's locks are on them too: the parent's next hold of its own would be
// refused in its own name. So the parent waits for the child's word that it closed them (a
// child not scheduled within a second is not waited for longer).
int childClosed[2] = {-1, -1};
constexpr int kChildCloseWaitMs = 1000;

void WaitForTheChildsCopies() {
  if (childClosed[0] < 0) return;
  close(childClosed[1]);
  pollfd closed{childClosed[0], POLLIN, 0};
  while (poll(&closed, 1, kChildCloseWaitMs) < 0 && errno == EINTR) {
  }
  close(childClosed[0]);
  childClosed[0] = childClosed[1] = -1;
}

void SayTheCopiesAreClosed() {
  if (childClosed[1] < 0) return;
  close(childClosed[0]);
  const char closed = 1;
  while (write(childClosed[1], &closed, 1) < 0 && errno == EINTR) {
  }
  close(childClosed[1]);
  childClosed[0] = childClosed[1] = -1;
}

// Both tables and the port's own lock are locked across a fork, in the order the calls take
// them, so that the child finds them whole; the child then holds nothing (programmer_hold.h).
void PrepareFork() {
  holdsLock.lock();
  HidPortLockForFork();
  LockHoldsForFork();
  if ((HoldsAnythingDuringFork() || !Holds().empty()) && pipe2(childClosed, O_CLOEXEC) != 0) {
    childClosed[0] = childClosed[1] = -1;
  }
}

void AfterForkInParent() {
  WaitForTheChildsCopies();
  UnlockHoldsAfterFork();
  HidPortUnlockAfterFork();
  holdsLock.unlock();
}

// The system's holds first: the shares that go after them find nothing left to let go of.
void AfterForkInChild() {
  ForgetHoldsInChild();
  HidPortUnlockAfterFork();
  Holds().clear();
  SayTheCopiesAreClosed();
  holdsLock.unlock();
}

[[maybe_unused]] const bool forkHandled = pthread_atfork(PrepareFork, AfterForkInParent, AfterForkInChild) == 0;
#endif

}  // namespace

// A second hold of a device adds only a share of the same system hold, which goes with the
// new shares at once.
int HoldForProcess(const ProgrammerName& programmer, std::string& why) {
  why.clear();
  std::lock_guard<std::mutex> guard(holdsLock);
  HidPortInfo found;
  HeldShares shares;
  const int code = QS71_USB_Writer::HoldProgrammer(programmer, found, shares, why);
  if (code != 0) return code;
  Kept& kept = Holds()[found.node];
  if (kept.shares.empty()) kept = Kept{found.path, std::move(shares)};
  return 0;
}

int ReleaseForProcess(const ProgrammerName& programmer) {
  Kept gone;
  {
    std::lock_guard<std::mutex> guard(holdsLock);
    const auto held = HeldFor(programmer);
    if (held == Holds().end()) return QS71_E_ARGUMENT;
    gone = std::move(held->second);
    Holds().erase(held);
  }
  return 0;
}

}  // namespace qs71
