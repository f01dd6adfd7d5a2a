#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

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

// In a user namespace of its own (unshare -r) any user is root, owns what he likes and may
// mount his own files over /etc/qs71: root's files prove nothing there. The first namespace
// maps every uid to itself.
bool InTheSystemsUsers(std::string& problem) {
  std::ifstream map("/proc/self/uid_map");
  unsigned long long inside = 1, outside = 1, count = 0;
  map >> inside >> outside >> count;
  std::string more;
  if (map && inside == 0 && outside == 0 && count == 4294967295ULL && !(map >> more)) return true;
  problem = "qs71prog runs in a user namespace of its own (/proc/self/uid_map), where any user "
            "may be root: no file there is one only an administrator can change";
  return false;
}

// Each link on the way to the file may be replaced by whoever may write its folder: every
// hop's folder is checked, not the first and the last only.
bool LinksOnTheWay(const std::string& path, const std::string& named, std::string& problem) {
  std::filesystem::path at = path;
  for (int hop = 0; hop < 40; ++hop) {
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(at, error))) return true;
    char folder[PATH_MAX];
    const std::string parent = FolderOf(at.string());
    if (realpath(parent.c_str(), folder) == nullptr) {
      problem = named + " cannot be checked: " + parent + ": " + std::strerror(errno);
      return false;
    }
    if (!Check(folder, named + ": the folder " + std::string(folder) + " of its link " +
                           at.string(), problem)) {
      return false;
    }
    const std::filesystem::path target = std::filesystem::read_symlink(at, error);
    if (error) {
      problem = named + " cannot be checked: " + at.string() + ": " + error.message();
      return false;
    }
    at = target.is_absolute() ? target : std::filesystem::path(folder) / target;
  }
  problem = named + " cannot be checked: too many links";
  return false;
}

}  // namespace

std::string SystemPolicyFile() { return "/etc/qs71/station.toml"; }

bool OnlyAdministratorsMayChange(const std::string& path, const std::string& what,
                                 std::string& problem) {
  const std::string named = what + " " + path;
  if (!InTheSystemsUsers(problem)) {
    problem = named + " cannot be trusted: " + problem;
    return false;
  }
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) {
    problem = named + " cannot be checked: " + std::strerror(errno);
    return false;
  }
  struct stat facts {};
  const bool link = lstat(path.c_str(), &facts) == 0 && S_ISLNK(facts.st_mode);
  const std::string target = link ? resolved : path;
  const std::string file = link ? named + ", a link to " + target : named;
  if (!Check(target, file, problem) || !LinksOnTheWay(path, named, problem)) return false;
  // The folders of the links on the way were checked with them.
  const std::string folder = FolderOf(target);
  return Check(folder, (link ? what + " " + target : named) + ": its folder " + folder, problem);
}

bool RunByAdministrator() { return geteuid() == 0; }

}  // namespace qs71prog
