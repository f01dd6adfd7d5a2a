#pragma once
// The public keys a station trusts: those given with --trust FILE and every *.pub in the trust
// folders (key_places.h). A station that trusts any key runs signed jobs only, and only those
// signed by one of its keys; one that trusts none runs any job whose hash holds.

#include <string>
#include <vector>

#include "job_file/signing_key.h"

namespace qs71prog {

struct Trust {
  std::vector<PublicKey> keys;

  bool Any() const { return !keys.empty(); }
  const PublicKey* Find(const std::string& fingerprint) const;
};

// Reads every key. A key that cannot be read is a refusal, never skipped: a station whose
// only key was skipped would take unsigned jobs. A folder that does not exist holds no key;
// one that cannot be listed is a refusal as well.
bool LoadTrust(const std::vector<std::string>& files, const std::vector<std::string>& folders,
               Trust& trust, std::string& problem);

}  // namespace qs71prog
