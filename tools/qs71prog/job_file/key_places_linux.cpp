#include "job_file/key_places.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qs71prog {

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

}  // namespace

std::vector<std::string> TrustFolders() {
  const std::string replaced = Variable("QS71_TRUST_DIR");
  if (!replaced.empty()) return {replaced};
  std::vector<std::string> folders = {"/etc/qs71/trusted-keys"};
  if (!UserTrustFolder().empty()) folders.push_back(UserTrustFolder());
  return folders;
}

std::string UserTrustFolder() {
  std::string config = Variable("XDG_CONFIG_HOME");
  if (config.empty() && !Variable("HOME").empty()) config = Variable("HOME") + "/.config";
  return config.empty() ? "" : config + "/qs71/trusted-keys";
}

std::string DefaultTraceFile() {
  std::string state = Variable("XDG_STATE_HOME");
  if (state.empty() && !Variable("HOME").empty()) state = Variable("HOME") + "/.local/state";
  return state.empty() ? "" : state + "/qs71/trace.db";
}

std::string UserName() {
  const passwd* entry = getpwuid(geteuid());
  if (entry != nullptr && entry->pw_name != nullptr) return entry->pw_name;
  return Variable("USER");
}

bool MakePrivate(FILE* stream, std::string& problem) {
  if (fchmod(fileno(stream), S_IRUSR | S_IWUSR) == 0) return true;
  problem = std::strerror(errno);
  return false;
}

}  // namespace qs71prog
