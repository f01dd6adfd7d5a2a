#pragma once
// A program run as a user who owns nothing here (nobody, uid and gid 65534), through
// setpriv with every supplementary group dropped: an operator without root, as a station has
// one. Only root can become another user; a test that needs it says why it cannot run, and
// where every test must run (CI, which runs as root) it fails rather than being skipped.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

constexpr uid_t kNobody = 65534;

// The command line run as nobody.
std::vector<std::string> AsNobody(const std::vector<std::string>& commandLine);

// Why nobody cannot run a program here, "" when it can: this process is not root, setpriv is
// missing or does not drop to nobody, or a folder on the way to one of reached (the program,
// the scratch folder) cannot be searched by others.
std::string WhyNobodyCannotRun(const std::vector<std::filesystem::path>& reached);

// Why this process cannot give files to another user or make them root's, "" when it can.
std::string WhyFilesCannotChangeHands();

// True where no test may be skipped for want of a privilege: QS71_CI is set (.ci/run sets it).
bool EveryTestMustRun();

// path and everything below it given to uid and gid (a link itself, not its target).
bool GiveTo(const std::filesystem::path& path, uid_t uid, gid_t gid);

}  // namespace testsupport
