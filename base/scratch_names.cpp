#include "scratch_names.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

// More than one compile can run in a process, each with its image, map, page and two prepared
// sound files; a name that finds no free slot is still removed on every ordinary path.
constexpr int kSlots = 64;

struct Slot {
  std::atomic<bool> taken{false};
  std::atomic<bool> named{false};  // name is complete
  char name[4096] = {};
};

Slot g_slots[kSlots];

}  // namespace

void HoldScratchName(const std::string& name) {
  if (name.empty() || name.size() >= sizeof g_slots[0].name) return;
  for (Slot& slot : g_slots) {
    bool expected = false;
    if (!slot.taken.compare_exchange_strong(expected, true)) continue;
    std::memcpy(slot.name, name.c_str(), name.size() + 1);
    slot.named.store(true);
    return;
  }
}

void ForgetScratchName(const std::string& name) {
  for (Slot& slot : g_slots) {
    if (!slot.named.load() || name != slot.name) continue;
    slot.named.store(false);
    slot.taken.store(false);
    return;
  }
}

void RemoveHeldScratchNames() {
  for (Slot& slot : g_slots) {
    if (slot.named.load()) std::remove(slot.name);
  }
}
