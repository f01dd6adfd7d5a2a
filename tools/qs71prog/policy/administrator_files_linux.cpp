#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

#include "policy/administrator_files.h"

namespace qs71prog {

namespace {

std::string OwnerName(uid_t uid) {
  const passwd* entry = getpwuid(uid);
  const std::string number = "uid " + std::to_string(uid);
  return entry != nullptr && entry->pw_name != nullptr ? entry->pw_name + (" (" + number + ")")
                                                       : number;
}

std::string GroupName(gid_t gid) {
  const group* entry = getgrgid(gid);
  const std::string number = "gid " + std::to_string(gid);
  return entry != nullptr && entry->gr_name != nullptr ? entry->gr_name + (" (" + number + ")")
                                                       : number;
}

// What lets someone other than root change the file: "" when nothing does. A folder's write
// access lets its writers replace what it holds; an access list's grants show in the group bits.
std::string Fault(const struct stat& facts) {
  if (facts.st_uid != 0) return "is owned by " + OwnerName(facts.st_uid) + ", not by root";
  if ((facts.st_mode & S_IWGRP) != 0)
    return "can be written by its group, " + GroupName(facts.st_gid);
  if ((facts.st_mode & S_IWOTH) != 0) return "can be written by every user";
  return "";
}

// place names the file in the message: "the trusted key /k/a.pub", "...: its folder /k".
bool Check(const std::string& path, const std::string& place, std::string& problem) {
  struct stat facts {};
  if (stat(path.c_str(), &facts) != 0) {
    problem = place + " cannot be checked: " + std::strerror(errno);
    return false;
  }
  const std::string fault = Fault(facts);
  if (fault.empty()) return true;
  problem = place + " " + fault +
            ", so others than root could change it; a station takes it "
            "only from root: chown root " +
            path + " && chmod go-w " + path;
  return false;
}

std::string FolderOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

}  // namespace

std::string SystemPolicyFile() { return "/etc/qs71/station.toml"; }

bool OnlyAdministratorsMayChange(const std::string& path, const std::string& what,
                                 std::string& problem) {
  const std::string named = what + " " + path;
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) {
    problem = named + " cannot be checked: " + std::strerror(errno);
    return false;
  }
  struct stat facts {};
  const bool link = lstat(path.c_str(), &facts) == 0 && S_ISLNK(facts.st_mode);
  const std::string target = link ? resolved : path;
  const std::string file = link ? named + ", a link to " + target : named;
  if (!Check(target, file, problem)) return false;
  const std::string folder = FolderOf(target);
  if (!Check(folder, (link ? what + " " + target : named) + ": its folder " + folder, problem)) {
    return false;
  }
  return !link || FolderOf(path) == folder ||
         Check(FolderOf(path), named + ": its folder " + FolderOf(path), problem);
}

}  // namespace qs71prog
