#pragma once
// libpq reads its connection's settings from the environment too (PGHOST, PGSERVICEFILE, ...):
// on a station with a policy that environment is the operator's, and would move the record to
// any server the operator likes. Under a policy the policy's trace alone says where the line's
// server is.

#include <string>

namespace qs71prog {

// Removes every libpq variable but the password file's (a password cannot move the record:
// a wrong one is refused), and has service names looked up in pg_service.conf beside the
// policy file, never in the operator's ~/.pg_service.conf. Call once, before any thread.
void KeepLibpqToThePolicy(const std::string& policyFile);

// Whether an environment variable is set to something.
bool VariableSet(const char* name);

}  // namespace qs71prog
