#include "production/programmer_registry.h"

#include <algorithm>
#include <map>

namespace qs71prog {

namespace {

// A loop's own programmer with its node made again (a USB glitch re-enumerates it: hidraw gives
// it a new inode at the same path): at the loop's path, with its serial, under another node,
// while the loop's node is listed no more. Its loop meets it as replaced at its next call and
// takes it back by serial; until then it is nobody's newcomer and no second programmer of that
// serial.
bool MadeAgain(const ProgrammerIdentity& own, const ProgrammerIdentity& programmer,
               const std::vector<ProgrammerIdentity>& listed) {
  if (SerialOf(own).empty() || SerialOf(own) != SerialOf(programmer) ||
      PathOf(own) != PathOf(programmer) || NodeOf(own) == NodeOf(programmer)) {
    return false;
  }
  return std::none_of(listed.begin(), listed.end(),
                      [&](const ProgrammerIdentity& other) { return SameDevice(other, own); });
}

}  // namespace

const ProgrammerRegistry::Loop* ProgrammerRegistry::Find(int loop) const {
  return loop >= 1 && static_cast<size_t>(loop) <= loops.size() ? &loops[loop - 1] : nullptr;
}

ProgrammerRegistry::Loop* ProgrammerRegistry::Find(int loop) {
  return loop >= 1 && static_cast<size_t>(loop) <= loops.size() ? &loops[loop - 1] : nullptr;
}

int ProgrammerRegistry::Join(const ProgrammerIdentity& programmer) {
  std::lock_guard<std::mutex> lock(mutex);
  loops.push_back({programmer, false, true});
  return static_cast<int>(loops.size());
}

int ProgrammerRegistry::Count() const {
  std::lock_guard<std::mutex> lock(mutex);
  return static_cast<int>(loops.size());
}

bool ProgrammerRegistry::Owned(const ProgrammerIdentity& programmer, int except) const {
  for (size_t index = 0; index < loops.size(); ++index) {
    const Loop& loop = loops[index];
    if (static_cast<int>(index) + 1 != except && loop.holding &&
        SameDevice(loop.programmer, programmer)) {
      return true;
    }
  }
  return false;
}

// The same device first; then by serial, when it cannot be mistaken from either side.
std::optional<ProgrammerIdentity> ProgrammerRegistry::CandidateOf(
    int loop, const std::vector<ProgrammerIdentity>& listed) const {
  const Loop* self = Find(loop);
  if (self == nullptr || !self->lost || self->holding) return std::nullopt;
  for (const ProgrammerIdentity& programmer : listed) {
    if (SameDevice(programmer, self->programmer) && !Owned(programmer, loop)) return programmer;
  }
  const std::string serial = SerialOf(self->programmer);
  if (serial.empty()) return std::nullopt;
  std::vector<ProgrammerIdentity> fits;
  for (const ProgrammerIdentity& programmer : listed) {
    if (SerialOf(programmer) == serial && !Owned(programmer, loop)) fits.push_back(programmer);
  }
  const auto looking = std::count_if(loops.begin(), loops.end(), [&](const Loop& other) {
    return other.lost && !other.holding && SerialOf(other.programmer) == serial;
  });
  if (fits.size() == 1 && looking == 1) return fits.front();
  return std::nullopt;
}

std::optional<ProgrammerIdentity> ProgrammerRegistry::Candidate(
    int loop, const std::vector<ProgrammerIdentity>& listed) const {
  std::lock_guard<std::mutex> lock(mutex);
  return CandidateOf(loop, listed);
}

void ProgrammerRegistry::Lost(int loop) {
  std::lock_guard<std::mutex> lock(mutex);
  if (Loop* self = Find(loop)) {
    self->lost = true;
    self->holding = false;
  }
}

bool ProgrammerRegistry::Claim(int loop, const ProgrammerIdentity& programmer) {
  std::lock_guard<std::mutex> lock(mutex);
  Loop* self = Find(loop);
  if (self == nullptr || Owned(programmer, loop)) return false;
  self->programmer = programmer;
  self->holding = true;
  return true;
}

void ProgrammerRegistry::Unclaim(int loop) {
  std::lock_guard<std::mutex> lock(mutex);
  if (Loop* self = Find(loop)) self->holding = false;
}

void ProgrammerRegistry::Back(int loop) {
  std::lock_guard<std::mutex> lock(mutex);
  if (Loop* self = Find(loop)) self->lost = false;
}

std::vector<ProgrammerIdentity> ProgrammerRegistry::Newcomers(
    const std::vector<ProgrammerIdentity>& listed) const {
  std::lock_guard<std::mutex> lock(mutex);
  std::vector<ProgrammerIdentity> newcomers;
  for (const ProgrammerIdentity& programmer : listed) {
    bool taken = Owned(programmer, 0);
    for (size_t index = 0; !taken && index < loops.size(); ++index) {
      const auto back = CandidateOf(static_cast<int>(index) + 1, listed);
      taken = (back && SameDevice(*back, programmer)) ||
              MadeAgain(loops[index].programmer, programmer, listed);
    }
    if (!taken) newcomers.push_back(programmer);
  }
  return newcomers;
}

std::vector<std::string> ProgrammerRegistry::UntoldDuplicates(
    const std::vector<ProgrammerIdentity>& listed) {
  std::lock_guard<std::mutex> lock(mutex);
  std::map<std::string, std::set<std::string>> nodes;  // by serial
  for (const ProgrammerIdentity& programmer : listed) {
    if (!SerialOf(programmer).empty()) nodes[SerialOf(programmer)].insert(NodeOf(programmer));
  }
  for (const Loop& loop : loops) {
    const bool again = std::any_of(listed.begin(), listed.end(), [&](const ProgrammerIdentity& p) {
      return MadeAgain(loop.programmer, p, listed);
    });
    if (!SerialOf(loop.programmer).empty() && !again) {
      nodes[SerialOf(loop.programmer)].insert(NodeOf(loop.programmer));
    }
  }
  std::vector<std::string> untold;
  for (const auto& [serial, seen] : nodes) {
    if (seen.size() > 1 && told.insert(serial).second) untold.push_back(serial);
  }
  return untold;
}

std::string ProgrammerRegistry::KeyFor(const ProgrammerIdentity& programmer,
                                       const std::vector<ProgrammerIdentity>& listed) const {
  const std::string serial = SerialOf(programmer);
  if (serial.empty()) return PathOf(programmer);
  std::lock_guard<std::mutex> lock(mutex);
  const auto twin = [&](const ProgrammerIdentity& other) {
    return SerialOf(other) == serial && NodeOf(other) != NodeOf(programmer) &&
           !MadeAgain(other, programmer, listed) && !MadeAgain(programmer, other, listed);
  };
  const bool shared = std::any_of(listed.begin(), listed.end(), twin) ||
                      std::any_of(loops.begin(), loops.end(),
                                  [&](const Loop& loop) { return twin(loop.programmer); });
  return shared ? serial + "@" + PathOf(programmer) : serial;
}

}  // namespace qs71prog
