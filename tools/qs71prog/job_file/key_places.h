#pragma once
// What keys need from the system, one file per platform: the folders whose public keys a
// station trusts, the name of the user who makes a key or a job, and a secret key file that
// only its owner can read.

#include <cstdio>
#include <string>
#include <vector>

namespace qs71prog {

// QS71_TRUST_DIR when set (a test, or a station kept apart from the system's folders), else
// the system's folder and then the user's: /etc/qs71/trusted-keys and
// $XDG_CONFIG_HOME/qs71/trusted-keys (~/.config without it); Windows
// %PROGRAMDATA%\qs71\trusted-keys.
std::vector<std::string> TrustFolders();

// The user's own folder of trusted keys, the last of TrustFolders without QS71_TRUST_DIR:
// $XDG_CONFIG_HOME/qs71/trusted-keys (~/.config without it); "" where there is none (Windows,
// or neither variable set). A station with a policy never reads it.
std::string UserTrustFolder();

// The station's own trace when --trace names none: $XDG_STATE_HOME/qs71/trace.db
// (~/.local/state without it); Windows %LOCALAPPDATA%\qs71\trace.db. Empty when the system
// names no such folder.
std::string DefaultTraceFile();

// The user this process runs for, "" when unknown.
std::string UserName();

// Makes the open file readable and writable by its owner alone, before a secret is written
// to it. Windows: the file keeps its folder's access list, which is the user's own in a
// profile folder; nothing to do.
bool MakePrivate(FILE* stream, std::string& problem);

}  // namespace qs71prog
