#include "job_file/trust.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "job_file/key_places.h"
#include "policy/administrator_files.h"

namespace qs71prog {

namespace {

// The folder's *.pub files, sorted; others receives the names passed over.
bool KeysInFolder(const std::string& folder, std::vector<std::string>& paths,
                  std::vector<std::string>& others, std::string& problem) {
  std::error_code error;
  if (!std::filesystem::exists(folder, error) && !error) return true;
  std::filesystem::directory_iterator entries(folder, error);
  for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    const std::string path = entries->path().string();
    if (path.ends_with(".pub")) paths.push_back(path);
    else others.push_back(entries->path().filename().string());
  }
  if (error) problem = "the trust folder " + folder + " cannot be read: " + error.message();
  std::sort(paths.begin(), paths.end());
  std::sort(others.begin(), others.end());
  return !error;
}

bool AddKey(const std::string& path, const std::string& option, Trust& trust,
            std::string& problem) {
  PublicKey key;
  if (!ReadPublicKey(path, option, key, problem)) return false;
  if (trust.Find(key.fingerprint) == nullptr) trust.keys.push_back(key);
  return true;
}

bool AddAdministratorsKey(const std::string& path, Trust& trust, std::string& problem) {
  return OnlyAdministratorsMayChange(path, "the trusted key", problem) &&
         AddKey(path, "trusted key", trust, problem);
}

// "ALICE.PUB, alice.pub.bak": the names a key folder holds that are no key's.
std::string PassedOver(const std::vector<std::string>& others) {
  std::string names;
  for (size_t index = 0; index < others.size() && index < 5; ++index) {
    names += (index == 0 ? "" : ", ") + others[index];
  }
  if (others.size() > 5) names += " and " + std::to_string(others.size() - 5) + " more";
  return names;
}

bool LoadPolicyFolder(const StationPolicy& policy, Trust& trust, std::string& problem) {
  const std::string& folder = policy.keyFolder;
  std::vector<std::string> paths;
  std::vector<std::string> others;
  if (!OnlyAdministratorsMayChange(folder, "the trusted-keys folder", problem) ||
      !KeysInFolder(folder, paths, others, problem)) {
    problem += ": the station policy " + policy.file + " trusts no key, and this station runs no job";
    return false;
  }
  for (const std::string& path : paths) {
    if (!AddAdministratorsKey(path, trust, problem)) return false;
  }
  if (!trust.keys.empty()) return true;
  problem = "the station policy " + policy.file + " trusts no key: its trusted-keys folder " +
            folder + " holds no *.pub file" +
            (others.empty() ? "" : " (" + PassedOver(others) + ": a key's name ends in .pub)") +
            ", and this station runs no job until it holds one";
  return false;
}

}  // namespace

const PublicKey* Trust::Find(const std::string& fingerprint) const {
  for (const PublicKey& key : keys) {
    if (key.fingerprint == fingerprint) return &key;
  }
  return nullptr;
}

bool LoadTrust(const std::vector<std::string>& files, const std::vector<std::string>& folders,
               Trust& trust, std::string& problem) {
  trust = Trust();
  for (const std::string& file : files) {
    if (!AddKey(file, "--trust", trust, problem)) return false;
  }
  for (const std::string& folder : folders) {
    std::vector<std::string> paths;
    std::vector<std::string> others;
    if (!KeysInFolder(folder, paths, others, problem)) return false;
    for (const std::string& path : paths) {
      if (!AddKey(path, "trusted key", trust, problem)) return false;
    }
  }
  return true;
}

bool LoadPolicyTrust(const StationPolicy& policy, Trust& trust, std::string& problem) {
  trust = Trust();
  trust.rule = policy.jobs == JobsRule::kSigned ? TrustRule::kSignedOnly : TrustRule::kUnsignedToo;
  trust.policy = policy.file;
  if (!policy.keyFolder.empty()) return LoadPolicyFolder(policy, trust, problem);
  for (const std::string& file : policy.keyFiles) {
    if (!AddAdministratorsKey(file, trust, problem)) return false;
  }
  return true;
}

bool LoadStationTrust(const Options& options, Trust& trust, std::string& problem) {
  if (options.policy.Present()) return LoadPolicyTrust(options.policy, trust, problem);
  return LoadTrust(options.trust, TrustFolders(), trust, problem);
}

}  // namespace qs71prog
