#include "job_file/trust.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace qs71prog {

namespace {

bool KeysInFolder(const std::string& folder, std::vector<std::string>& paths,
                  std::string& problem) {
  std::error_code error;
  if (!std::filesystem::exists(folder, error) && !error) return true;
  std::filesystem::directory_iterator entries(folder, error);
  for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    const std::string path = entries->path().string();
    if (path.ends_with(".pub")) paths.push_back(path);
  }
  if (error) problem = "the trust folder " + folder + " cannot be read: " + error.message();
  return !error;
}

bool AddKey(const std::string& path, const std::string& option, Trust& trust,
            std::string& problem) {
  PublicKey key;
  if (!ReadPublicKey(path, option, key, problem)) return false;
  if (trust.Find(key.fingerprint) == nullptr) trust.keys.push_back(key);
  return true;
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
    if (!KeysInFolder(folder, paths, problem)) return false;
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) {
      if (!AddKey(path, "trusted key", trust, problem)) return false;
    }
  }
  return true;
}

}  // namespace qs71prog
