#pragma once
// A line of stations' trace: a PostgreSQL server, reached through libpq, with the station's
// own SQLite file beside it recording every call and queueing what the server has not got.

#include <memory>
#include <string>

#include "trace/trace_store.h"

namespace qs71prog {

// connection: the --trace postgresql://... string; localFile: the station's own trace;
// rootCertificate: the CA the server must prove itself by, empty for libpq's own choice.
bool LineTraceStore(const std::string& connection, const std::string& localFile,
                    const std::string& rootCertificate, std::unique_ptr<TraceStore>& store,
                    std::string& problem);

// The PostgreSQL client and the TLS library below it that this qs71prog runs with, which are
// not always the ones it was built with on Linux: "libpq 15.18, OpenSSL 3.0.19".
std::string LineTraceLibraries();

}  // namespace qs71prog
