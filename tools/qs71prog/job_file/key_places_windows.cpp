#include "job_file/key_places.h"

#include <cstdlib>

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
  const std::string data = Variable("PROGRAMDATA");
  if (data.empty()) return {};
  return {data + "\\qs71\\trusted-keys"};
}

std::string UserTrustFolder() { return ""; }

std::string DefaultTraceFile() {
  const std::string local = Variable("LOCALAPPDATA");
  return local.empty() ? "" : local + "\\qs71\\trace.db";
}

std::string UserName() { return Variable("USERNAME"); }

bool MakePrivate(FILE*, std::string&) { return true; }

}  // namespace qs71prog
