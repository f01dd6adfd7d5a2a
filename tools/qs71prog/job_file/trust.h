#pragma once
// The public keys a station trusts, and what it runs with them. Without a station policy:
// those given with --trust FILE and every *.pub in the trust folders (key_places.h); a station
// that trusts any key runs signed jobs only, and only those signed by one of its keys; one that
// trusts none runs any job whose hash holds. With a policy (policy/station_policy.h): only the
// keys its trusted-keys names, each one only an administrator can change; no key found is no
// job at all, and its jobs key says whether unsigned jobs run too.

#include <string>
#include <vector>

#include "cli/prog_options.h"
#include "job_file/signing_key.h"

namespace qs71prog {

enum class TrustRule {
  kKeysIfAny,     // no policy: signed jobs only once a key is trusted
  kSignedOnly,    // a policy's jobs = "signed"
  kUnsignedToo,   // a policy's jobs = "any": a job not signed by a trusted key runs as unsigned
};

struct Trust {
  std::vector<PublicKey> keys;
  TrustRule rule = TrustRule::kKeysIfAny;
  std::string policy;  // the policy file that names the keys; empty without one

  bool Any() const { return !keys.empty(); }
  const PublicKey* Find(const std::string& fingerprint) const;
};

// Reads every key. A key that cannot be read is a refusal, never skipped: a station whose
// only key was skipped would take unsigned jobs. A folder that does not exist holds no key;
// one that cannot be listed is a refusal as well.
bool LoadTrust(const std::vector<std::string>& files, const std::vector<std::string>& folders,
               Trust& trust, std::string& problem);

// The keys of a station policy: its folder, which must exist, and each *.pub in it (the name
// ends in ".pub", as written), or its list of files; each checked to be the administrator's.
// Fails closed: a refusal when no key is found, saying which names were passed over.
bool LoadPolicyTrust(const StationPolicy& policy, Trust& trust, std::string& problem);

// The station's trust for options: the policy's where there is one, else --trust and the
// trust folders.
bool LoadStationTrust(const Options& options, Trust& trust, std::string& problem);

}  // namespace qs71prog
