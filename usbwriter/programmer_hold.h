#pragma once
// One holder per programmer. Every call of the library holds the programmer it opens from
// before its first report until it closes it, and Qs71UsbHold keeps that hold across calls,
// so that no two processes ever interleave their requests on one part. The system's holds
// (a locked file, a mutex) belong to open handles, and two handles of one process would
// refuse each other; so this process keeps one system hold per thing held and counts its
// takers here: a call on a programmer that Qs71UsbHold holds goes through.

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct FileIdentity;

namespace qs71 {

// What taking a hold came to: 0, QS71_E_BUSY (why names the holder) or QS71_E_HOLD (why is
// the system's reason).
struct HoldResult {
  int code = 0;
  std::string why;
};

// The platform's hold itself, let go when destroyed.
class SystemHold {
 public:
  virtual ~SystemHold() = default;
};

// One taker's share of a hold; the last share that goes lets go of the system's hold.
class HoldShare {
 public:
  HoldShare() = default;
  explicit HoldShare(std::string heldKey) : key(std::move(heldKey)) {}
  HoldShare(HoldShare&& other) noexcept : key(std::move(other.key)) { other.key.clear(); }
  HoldShare& operator=(HoldShare&& other) noexcept;
  ~HoldShare();

 private:
  std::string key;
};

using HeldShares = std::vector<HoldShare>;
using HoldMaker = std::function<HoldResult(std::unique_ptr<SystemHold>& made)>;

// Takes key for this process: a share of the hold the process has, or a hold that make
// takes. The key names the thing held as the system knows it (a file's identity, a mutex's
// name), so that two spellings of one device meet.
HoldResult HoldKey(const std::string& key, const HoldMaker& make, HeldShares& shares);

// A file held through a lock on a descriptor of its own (base/file_lock.h), known by the
// identity of what that descriptor opened, never by its name: a node removed and made again
// at the same path (hidraw gives a freed minor to the next device) is another file, held
// afresh. heldNode (may be null) receives that identity (NodeIdentityOf). A file that cannot
// be opened or locked refuses with the system's reason.
HoldResult HoldFile(const std::string& path, HeldShares& shares, std::string* heldNode = nullptr);

// "inode 5:11165717": a device node's own identity (or any file's), as the listing gives it
// and the hold keys it. Empty for a file that is not there.
std::string NodeIdentityOf(const FileIdentity& file);

// fork() copies the tables of the holds with the descriptors that carry them; the locks
// belong to the parent's open files, and a child that kept the copies would hold what its
// parent holds, and go on holding it after the parent let go. So the table's lock is taken
// across the fork, and the child forgets every hold: it closes its copies (which leaves the
// parent's locks alone) and holds nothing until it takes a hold of its own.
void LockHoldsForFork();
void UnlockHoldsAfterFork();
void ForgetHoldsInChild();
// Whether the table holds anything: between LockHoldsForFork and the unlock only.
bool HoldsAnythingDuringFork();

// "Programmer busy: process 4711 (qs71prog) holds it", "Cannot hold the programmer: ...":
// the text of a refused call, without the "[ERROR]" and the code the call adds; any other
// refusal (the emulated part not attached) is its why as it stands.
std::string RefusalText(const HoldResult& result);

}  // namespace qs71
