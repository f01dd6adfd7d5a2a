#pragma once
// Files that only the station's administrator may change, as sshd's StrictModes has it for a
// user's keys: the station policy, the folder of trusted keys and each key. A file that the
// user running qs71prog (or anyone but the administrator) could change, or replace through
// the folder that holds it, decides nothing. One file per platform: Linux asks for root as the
// owner and no write access for the group or others; Windows for the Administrators group (or
// SYSTEM) as the owner and no access list entry that lets anyone else write.

#include <string>

namespace qs71prog {

// The system's own policy file: /etc/qs71/station.toml; Windows %PROGRAMDATA%\qs71\station.toml
// ("" when PROGRAMDATA is not set).
std::string SystemPolicyFile();

// Whether only an administrator can change path (a file or a folder) and the folder that holds
// it. A link is followed and its target checked, with the target's folder, beside the folder
// of the name as given. False with problem as "WHAT PATH is ...: make it ...", what naming the
// file's role ("the station policy", "the trusted key").
bool OnlyAdministratorsMayChange(const std::string& path, const std::string& what,
                                 std::string& problem);

// Whether this process runs as the administrator: root on Linux; on Windows a token in the
// Administrators group with it in effect (an elevated prompt).
bool RunByAdministrator();

}  // namespace qs71prog
