#pragma once
// The programmers of a production run and the loops that own them: one loop per programmer,
// one programmer per loop. A programmer is its device (node and serial): a loop owns one for
// the whole run, addresses every call to it, and never takes one that another loop owns.
//
// A loop whose programmer is lost owns none until it takes one back, by the same device (its
// node and serial) or, where the node changed (plugged into another port, its node made
// again), by serial, but only when exactly one programmer no loop owns reports that serial and
// exactly one lost loop looks for it: two programmers that report one serial are told apart by
// their nodes alone. What no loop owns and no lost loop may take back is a newcomer, which
// --all may let join.
//
// The loops and the arrivals look from their own threads; every function takes one lock.

#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "job/programmer_choice.h"

namespace qs71prog {

class ProgrammerRegistry {
 public:
  // A loop for this programmer; its tile's number, from 1 in the order they join.
  int Join(const ProgrammerIdentity& programmer);
  int Count() const;

  // The loop's programmer is lost: it owns none now.
  void Lost(int loop);
  // What the lost loop may take back from this listing, if anything.
  std::optional<ProgrammerIdentity> Candidate(int loop,
                                              const std::vector<ProgrammerIdentity>& listed) const;
  // The lost loop takes the programmer (it holds it now); false when another loop owns it.
  bool Claim(int loop, const ProgrammerIdentity& programmer);
  // The programmer a lost loop claimed left again before it answered.
  void Unclaim(int loop);
  // The lost loop's programmer answers again.
  void Back(int loop);

  // The listed programmers that no loop owns and no lost loop may take back.
  std::vector<ProgrammerIdentity> Newcomers(const std::vector<ProgrammerIdentity>& listed) const;
  // The serials that two programmers of the listing or of the run report and that were not
  // told yet: each once.
  std::vector<std::string> UntoldDuplicates(const std::vector<ProgrammerIdentity>& listed);

  // The name a programmer goes by in the log and on its tile: its serial, its path where it
  // has none, and "SERIAL@PATH" where another programmer listed or of the run reports the
  // same serial.
  std::string KeyFor(const ProgrammerIdentity& programmer,
                     const std::vector<ProgrammerIdentity>& listed) const;

 private:
  struct Loop {
    ProgrammerIdentity programmer;
    bool lost = false;
    bool holding = true;  // owns its programmer: running, or lost and claimed one back
  };

  bool Owned(const ProgrammerIdentity& programmer, int except) const;
  std::optional<ProgrammerIdentity> CandidateOf(
      int loop, const std::vector<ProgrammerIdentity>& listed) const;
  const Loop* Find(int loop) const;
  Loop* Find(int loop);

  mutable std::mutex mutex;
  std::vector<Loop> loops;  // by tile number - 1
  std::set<std::string> told;
};

}  // namespace qs71prog
