#pragma once
// A line of stations' trace: a PostgreSQL server, reached through libpq, with the station's
// own SQLite file beside it recording every call and queueing what the server has not got.

#include <memory>
#include <string>
#include <vector>

#include "trace/station_spool.h"
#include "trace/trace_store.h"

namespace qs71prog {

// connection: the --trace postgresql://... string; localFile: the station's own trace;
// rootCertificate: the CA the server must prove itself by, empty for libpq's own choice.
bool LineTraceStore(const std::string& connection, const std::string& localFile,
                    const std::string& rootCertificate, std::unique_ptr<TraceStore>& store,
                    std::string& problem);

// The line's server alone, for a report or an export: what a station spooled is not the
// line's trace.
bool LineTraceReader(const std::string& connection, const std::string& rootCertificate,
                     std::unique_ptr<TraceStore>& store, std::string& problem);

// --clear-refused: the events the line's server refused, set aside in the spool at
// localFile, each sent again; false when the server does not answer or the spool cannot be
// read.
bool ClearRefusedEvents(const std::string& connection, const std::string& localFile,
                        const std::string& rootCertificate, std::vector<ClearedEntry>& cleared,
                        std::string& problem);

// The PostgreSQL client and the TLS library below it that this qs71prog runs with, which are
// not always the ones it was built with on Linux: "libpq 15.18, OpenSSL 3.0.19".
std::string LineTraceLibraries();

}  // namespace qs71prog
