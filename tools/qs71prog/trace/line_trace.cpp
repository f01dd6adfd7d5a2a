#include "trace/line_trace.h"

#include <libpq-fe.h>
#include <openssl/crypto.h>

#include "trace/forwarding_store.h"
#include "trace/postgres_store.h"
#include "trace/sqlite_store.h"

namespace qs71prog {

bool LineTraceStore(const std::string& connection, const std::string& localFile,
                    const std::string& rootCertificate, std::unique_ptr<TraceStore>& store,
                    std::string&) {
  store = std::make_unique<ForwardingStore>(
      std::make_unique<PostgresStore>(connection, rootCertificate),
      std::make_unique<SqliteStore>(localFile));
  return true;
}

bool LineTraceReader(const std::string& connection, const std::string& rootCertificate,
                     std::unique_ptr<TraceStore>& store, std::string&) {
  store = std::make_unique<PostgresStore>(connection, rootCertificate);
  return true;
}

bool ClearRefusedEvents(const std::string& connection, const std::string& localFile,
                        const std::string& rootCertificate, std::vector<ClearedEntry>& cleared,
                        std::string& problem) {
  ForwardingStore station(std::make_unique<PostgresStore>(connection, rootCertificate),
                          std::make_unique<SqliteStore>(localFile));
  return station.Open(problem) && station.ClearRefused(cleared, problem);
}

std::string LineTraceLibraries() {
  // Since PostgreSQL 10 the number is the major version times 10000 plus the minor one.
  const int libpq = PQlibVersion();
  return "libpq " + std::to_string(libpq / 10000) + "." + std::to_string(libpq % 10000) +
         ", OpenSSL " + OpenSSL_version(OPENSSL_VERSION_STRING);
}

}  // namespace qs71prog
