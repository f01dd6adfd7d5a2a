#pragma once
// The station policy's file: TOML, with the keys of policy_file.cpp's table and no others.

#include <string>

#include "policy/station_policy.h"

namespace qs71prog {

// Reads a policy's text; path names it in messages and becomes policy.file. False with problem
// as "PATH:LINE: what is wrong; what is expected" for text that is not TOML, an unknown key, a
// value of the wrong type or out of range, a relative path, a text that is not one line of
// UTF-8, or a trace that holds a password; "PATH: ..." for a key that must be there and is not.
bool ParsePolicyText(const std::string& path, const std::string& text, StationPolicy& policy,
                     std::string& problem);

// Reads the file, then as ParsePolicyText. The file's permissions are not looked at here
// (policy_lookup.h).
bool ReadPolicyFile(const std::string& path, StationPolicy& policy, std::string& problem);

}  // namespace qs71prog
