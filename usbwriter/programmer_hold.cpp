#include "programmer_hold.h"

#include <map>
#include <mutex>

#include "file_lock.h"
#include "file_system.h"  // IdentifyDescriptor
#include "qs71_usb_writer.h"
#include "text_format.h"  // Format

namespace qs71 {

namespace {

struct Held {
  std::unique_ptr<SystemHold> hold;
  int shares = 0;
};

// Calls on different programmers run on different threads; all of them meet here.
std::mutex heldLock;
std::map<std::string, Held>& HeldByKey() {
  static std::map<std::string, Held> held;
  return held;
}

class LockedFile : public SystemHold {
 public:
  explicit LockedFile(int descriptor) : fd(descriptor) {}
  ~LockedFile() override { CloseLockedFile(fd); }

 private:
  int fd;
};

// The descriptor is the one the identity was read from, so the lock lands on what was
// identified, whatever the name leads to meanwhile. It is the hold's, or closed.
HoldResult LockDescriptor(int fd, const std::string& path, std::unique_ptr<SystemHold>& made) {
  HoldResult result;
  switch (LockExclusive(fd, &result.why)) {
    case FileLock::kTaken:
      made = std::make_unique<LockedFile>(fd);
      return result;
    case FileLock::kHeld:
      result.code = QS71_E_BUSY;
      break;
    case FileLock::kFailed:
      result.code = QS71_E_HOLD;
      result.why = path + ": " + result.why;
      break;
  }
  CloseLockedFile(fd);
  return result;
}

}  // namespace

HoldShare& HoldShare::operator=(HoldShare&& other) noexcept {
  if (this != &other) {
    HoldShare gone(std::move(*this));
    key = std::move(other.key);
    other.key.clear();
  }
  return *this;
}

// Where processes fork, the system's hold goes under the table's lock: a descriptor out of the
// table but still open would be copied into a child forked meanwhile, which the child's handler
// cannot close, and the child would keep the lock after this process let it go. Windows does
// not fork, and its hold (a thread keeping a mutex) may take a while to stop: outside.
HoldShare::~HoldShare() {
  if (key.empty()) return;
  std::unique_ptr<SystemHold> last;
  std::lock_guard<std::mutex> guard(heldLock);
  auto found = HeldByKey().find(key);
  if (found == HeldByKey().end() || --found->second.shares > 0) return;
#if defined(_WIN32)
  last = std::move(found->second.hold);
#endif
  HeldByKey().erase(found);
}

namespace {

HoldResult HoldKeyLocked(const std::string& key, const HoldMaker& make, HeldShares& shares) {
  Held& held = HeldByKey()[key];
  if (held.hold == nullptr) {
    const HoldResult result = make(held.hold);
    if (held.hold == nullptr) {
      HeldByKey().erase(key);
      return result;
    }
  }
  ++held.shares;
  shares.emplace_back(key);
  return HoldResult{};
}

}  // namespace

// Under the table's lock throughout, so that two threads of this process never race to take
// one system hold and refuse each other.
HoldResult HoldKey(const std::string& key, const HoldMaker& make, HeldShares& shares) {
  std::lock_guard<std::mutex> guard(heldLock);
  return HoldKeyLocked(key, make, shares);
}

// Under the table's lock from the open to the close or the table: a fork waits for it, so no
// child gets a copy of a descriptor that is not in the table, where the child's handler closes
// it. A copy left open would carry this process's lock for as long as the child lives.
HoldResult HoldFile(const std::string& path, HeldShares& shares, std::string* heldNode) {
  std::lock_guard<std::mutex> guard(heldLock);
  HoldResult opened;
  const int fd = OpenForLock(path, &opened.why);
  if (fd < 0) return HoldResult{QS71_E_HOLD, opened.why.empty() ? path + ": cannot be opened" : opened.why};
  const std::string key = NodeIdentityOf(IdentifyDescriptor(fd));
  if (heldNode != nullptr) *heldNode = key;
  bool used = false;
  const HoldResult result = HoldKeyLocked(key, [&](std::unique_ptr<SystemHold>& made) {
    used = true;
    return LockDescriptor(fd, path, made);
  }, shares);
  // This process held the file already: its own descriptor carries the lock.
  if (!used) CloseLockedFile(fd);
  return result;
}

std::string NodeIdentityOf(const FileIdentity& file) {
  if (!file.exists) return "";
  return Format("inode %llu:%llu", static_cast<unsigned long long>(file.volume),
                static_cast<unsigned long long>(file.file));
}

void LockHoldsForFork() { heldLock.lock(); }

void UnlockHoldsAfterFork() { heldLock.unlock(); }

bool HoldsAnythingDuringFork() { return !HeldByKey().empty(); }

// The child's copies of the descriptors close without a word to the system's locks, which
// stay with the parent's open files.
void ForgetHoldsInChild() {
  HeldByKey().clear();
  heldLock.unlock();
}

std::string RefusalText(const HoldResult& result) {
  if (result.code == QS71_E_BUSY) return "Programmer busy: " + result.why + " holds it";
  if (result.code == QS71_E_HOLD) return "Cannot hold the programmer: " + result.why;
  return result.why;
}

}  // namespace qs71
