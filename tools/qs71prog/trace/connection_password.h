#pragma once
// The password in a libpq connection string, found without libpq's parser: libpq cannot say
// where the password was in a string it refuses to parse,
// while its message about that string repeats it ("invalid percent-encoded token: ...", or the
// whole URI). A password must never reach the screen, the --json events or the log.

#include <string>
#include <vector>

namespace qs71prog {

// Whether a trace names a line's server (postgresql:// or postgres://) rather than a file.
bool IsConnectionString(const std::string& trace);
// libpq's own "host=db dbname=trace": taken for a file's name it would make a new SQLite trace,
// named with whatever password the words hold, and record nothing on the line's server.
bool IsLibpqKeywords(const std::string& trace);

// Every spelling of the password in connection (a postgresql:// or postgres:// URI, or libpq's
// key=value words) that a message could repeat: as written, and as percent-decoded from a
// URI. Empty when the string gives no password.
std::vector<std::string> ConnectionPasswords(const std::string& connection);

// text with every spelling of connection's password replaced by "***".
std::string WithoutPassword(std::string text, const std::string& connection);

}  // namespace qs71prog
