#include "trace/line_trace.h"

namespace qs71prog {

// Debian's PostgreSQL client builds for Windows only without TLS and from another version
// than the Linux one; a station's link to its line's server is not left unencrypted for it.
bool LineTraceStore(const std::string& connection, const std::string&, const std::string&,
                    std::unique_ptr<TraceStore>&, std::string& problem) {
  problem = "this Windows build of qs71prog records no trace on a PostgreSQL server (" +
            connection.substr(0, connection.find(':')) +
            "://...): name a trace file with --trace FILE, or record the line's trace from a "
            "Linux station";
  return false;
}

bool LineTraceReader(const std::string& connection, const std::string& rootCertificate,
                     std::unique_ptr<TraceStore>& store, std::string& problem) {
  return LineTraceStore(connection, "", rootCertificate, store, problem);
}

bool ClearRefusedEvents(const std::string& connection, const std::string& localFile,
                        const std::string& rootCertificate, std::vector<ClearedEntry>&,
                        std::string& problem) {
  std::unique_ptr<TraceStore> none;
  return LineTraceStore(connection, localFile, rootCertificate, none, problem);
}

}  // namespace qs71prog
