#include "policy/libpq_environment.h"

#include <cstdlib>
#include <filesystem>

#include "file_system.h"  // RemoveProcessVariable, SetProcessVariable

namespace qs71prog {

namespace {

// The variables of libpq's "Environment Variables" that name where and how to connect.
constexpr const char* kConnectionVariables[] = {
    "PGHOST",         "PGHOSTADDR",           "PGPORT",
    "PGDATABASE",     "PGUSER",               "PGPASSWORD",
    "PGSERVICE",      "PGOPTIONS",            "PGAPPNAME",
    "PGSSLMODE",      "PGREQUIRESSL",         "PGSSLNEGOTIATION",
    "PGSSLCOMPRESSION", "PGSSLCERT",          "PGSSLKEY",
    "PGSSLCERTMODE",  "PGSSLROOTCERT",        "PGSSLCRL",
    "PGSSLCRLDIR",    "PGSSLSNI",             "PGREQUIREPEER",
    "PGSSLMINPROTOCOLVERSION", "PGSSLMAXPROTOCOLVERSION", "PGGSSENCMODE",
    "PGKRBSRVNAME",   "PGGSSLIB",             "PGGSSDELEGATION",
    "PGCONNECT_TIMEOUT", "PGCLIENTENCODING",  "PGTARGETSESSIONATTRS",
    "PGLOADBALANCEHOSTS", "PGCHANNELBINDING", "PGREQUIREAUTH",
    "PGSYSCONFDIR",   "PGLOCALEDIR",          "PGDATESTYLE",
    "PGTZ",           "PGGEQO",
};

}  // namespace

void KeepLibpqToThePolicy(const std::string& policyFile) {
  for (const char* name : kConnectionVariables) RemoveProcessVariable(name);
  const std::filesystem::path services =
      std::filesystem::path(policyFile).parent_path() / "pg_service.conf";
  SetProcessVariable("PGSERVICEFILE", services.string().c_str());
}

bool VariableSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace qs71prog
