#include "trace/postgres_store.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <vector>

#include "policy/libpq_environment.h"
#include "trace/connection_password.h"

namespace qs71prog {

namespace {

using PgResult = std::unique_ptr<PGresult, decltype(&PQclear)>;

// The types the values are sent as (pg_type's OIDs): the server reads every value as a
// parameter of a known type, never inside the statement's text.
constexpr Oid kInt8 = 20;
constexpr Oid kText = 25;
constexpr Oid kFloat8 = 701;

// The server's message on one line, for the screen and the log.
std::string OneLine(const char* message) {
  std::string text = message == nullptr ? "" : message;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

std::string Number(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

// A column of a result as the trace's logic reads it, by the column's type.
TraceValue ValueAt(const PGresult* result, int row, int column) {
  if (PQgetisnull(result, row, column)) return TraceValue::Null();
  const std::string text = PQgetvalue(result, row, column);
  switch (PQftype(result, column)) {
    case 20: case 21: case 23: return TraceValue::Integer(std::stoll(text));
    case 700: case 701: case 1700: return TraceValue::Real(std::stod(text));
    default: return TraceValue::Text(text);
  }
}

// The SQLSTATE classes of a failure that says nothing about what was sent: connection
// trouble, insufficient resources (a full disk), an operator's intervention (a shutdown), a
// system error, and a transaction to be tried again (a deadlock). The same call later may pass.
bool Passing(const char* state) {
  if (state == nullptr) return false;
  const std::string code = state;
  const std::string kind = code.substr(0, 2);
  return kind == "08" || kind == "53" || kind == "57" || kind == "58" || code == "40001" ||
         code == "40P01";
}

// Two stations opening an empty database at once must not both create the schema: the
// migration runs under this lock, held until its transaction ends.
constexpr int64_t kMigrationLock = 7107;

// Whether a host (libpq's host, one of its list) is a socket's folder: on Linux a path, or an
// abstract socket's name.
bool IsSocketFolder(const std::string& host) {
  return !host.empty() && (host[0] == '/' || host[0] == '@');
}

// Where a connection goes when neither the string nor the environment names a host: a
// socket's folder on Linux, localhost over TCP on Windows.
#if defined(_WIN32)
constexpr bool kDefaultIsSocket = false;
#else
constexpr bool kDefaultIsSocket = true;
#endif

// Whether libpq may reach every host of the string only through a socket's folder: none of a
// host list goes over TCP, no hostaddr (reached over TCP whatever the host names), and no
// service file or environment that could name a host of its own.
bool OnlySockets(const std::string& host, const std::string& hostaddr, const std::string& service) {
  if (!hostaddr.empty() || !service.empty() || VariableSet("PGHOSTADDR") || VariableSet("PGSERVICE")) return false;
  const char* environment = std::getenv("PGHOST");
  const std::string hosts = !host.empty() ? host : environment != nullptr ? environment : "";
  if (hosts.empty()) return kDefaultIsSocket;
  for (size_t start = 0; start <= hosts.size();) {
    const size_t end = std::min(hosts.find(',', start), hosts.size());
    if (!IsSocketFolder(hosts.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

// Whether the trace may cross a network unencrypted: a connection string that lets libpq go
// without TLS (disable, or allow and prefer, which fall back to none) to a host that may be
// reached over TCP. A station's own socket is local, and libpq encrypts no socket.
bool SentInTheClear(bool socketsOnly, const std::string& sslmode) {
  return !socketsOnly && (sslmode == "disable" || sslmode == "allow" || sslmode == "prefer");
}

// libpq's words for a refusal that the station's IT can mend, what to do about it, and the
// part of libpq's own words that would lower the line's guard (a certificate left unchecked).
struct Advice {
  const char* says;
  const char* cut;  // from here on, libpq's words are dropped; null: kept whole
  const char* advice;
};

const Advice kAdvice[] = {
    {"server does not support SSL", nullptr,
     "; to record on this server without encryption, add sslmode=disable to the connection "
     "string (the screen then shows the trace as not encrypted)"},
    {"root certificate file", " Either provide the file",
     "; the line's CA goes there, or into the file the station policy's root-certificate names"},
    {"no password supplied", nullptr,
     "; the password comes from the password file (~/.pgpass, %APPDATA%\\postgresql\\pgpass.conf, "
     "or the one PGPASSFILE names), which libpq reads only where its owner alone may read it "
     "(chmod 0600)"},
};

std::string WithAdvice(std::string problem) {
  for (const Advice& advice : kAdvice) {
    if (problem.find(advice.says) == std::string::npos) continue;
    const size_t cut = advice.cut == nullptr ? std::string::npos : problem.find(advice.cut);
    if (cut != std::string::npos) problem.erase(cut);
    return problem + advice.advice;
  }
  return problem;
}

// A password file that no one can make: the ping below must find no password.
#if defined(_WIN32)
constexpr const char* kNoPasswordFile = "NUL";
#else
constexpr const char* kNoPasswordFile = "/proc/qs71-no-password";
#endif

// libpq tells "nobody answers" from "refused" only through a ping, and takes a server that
// refuses the TLS asked of it (none offered, a certificate of another name or expired) as one
// that does not answer: the ping asks for TLS without requiring it. Since that server may be
// anyone's on the path, the ping has no password to give: the string's is left out, and the
// password file is one nobody can make; a server that asks for one has answered. Where the
// environment holds a password (PGPASSWORD), which nothing here can take away, the ping asks
// as much TLS as the connection does, and a server that refuses it counts as one that does
// not answer. A server starting up or shutting down refuses everyone for a while.
bool Answers(const std::string& connection, const std::string& rootCertificate) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(connection.c_str(), &error);
  PQfreemem(error);
  // A string libpq cannot read names no server to wait for: the connection's own words say so.
  if (options == nullptr) return true;
  const bool strict = VariableSet("PGPASSWORD");
  std::vector<const char*> keys = {"connect_timeout", "tcp_user_timeout", "passfile", "sslmode"};
  std::vector<const char*> values = {"3", "10000", kNoPasswordFile, strict ? "verify-full" : "prefer"};
  if (strict && !rootCertificate.empty()) keys.push_back("sslrootcert"), values.push_back(rootCertificate.c_str());
  for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
    const std::string key = option->keyword;
    if (option->val == nullptr || *option->val == '\0' || key == "password" || key == "passfile") continue;
    if (key == "sslmode" && !strict) continue;
    keys.push_back(option->keyword);
    values.push_back(option->val);
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  const PGPing ping = PQpingParams(keys.data(), values.data(), 0);
  PQconninfoFree(options);
  return ping != PQPING_NO_RESPONSE && ping != PQPING_REJECT;
}

}  // namespace

std::string PostgresDisplayName(const std::string& connection) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(connection.c_str(), &error);
  PQfreemem(error);
  if (options == nullptr) return "postgresql (an unreadable connection string)";
  std::string host, hostaddr, port, user, dbname, sslmode, service;
  for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
    const std::string key = option->keyword;
    const std::string value = option->val == nullptr ? "" : option->val;
    if (key == "host") host = value;
    if (key == "hostaddr") hostaddr = value;
    if (key == "port") port = value;
    if (key == "user") user = value;
    if (key == "dbname") dbname = value;
    if (key == "sslmode") sslmode = value;
    if (key == "service") service = value;
  }
  PQconninfoFree(options);
  const bool socketsOnly = OnlySockets(host, hostaddr, service);
  if (host.empty()) host = hostaddr;
  // A list of hosts without ports has a port list of commas only.
  if (port.find_first_not_of(',') == std::string::npos) port.clear();
  // A socket folder as the host: its slashes encoded, as a URI takes them.
  std::string encoded;
  for (const char c : host) encoded += c == '/' ? std::string("%2F") : std::string(1, c);
  return "postgresql://" + (user.empty() ? "" : user + "@") + encoded +
         (port.empty() ? "" : ":" + port) + "/" + dbname +
         (SentInTheClear(socketsOnly, sslmode) ? " (not encrypted)" : "");
}

PostgresStore::PostgresStore(std::string connection, std::string rootCertificate)
    : connection(std::move(connection)),
      rootCertificate(std::move(rootCertificate)),
      name(PostgresDisplayName(this->connection)) {}

PostgresStore::~PostgresStore() { PQfinish(conn); }

bool PostgresStore::Query(const std::string& sql, const TraceRow& values, TraceRows& rows,
                          std::string& problem) {
  std::vector<std::string> texts;
  std::vector<const char*> pointers;
  std::vector<Oid> types;
  texts.reserve(values.size());
  for (const TraceValue& value : values) {
    texts.push_back(value.kind == TraceValue::kReal ? Number(value.real) : value.AsText());
    pointers.push_back(value.kind == TraceValue::kNull ? nullptr : texts.back().c_str());
    types.push_back(value.kind == TraceValue::kInteger ? kInt8
                    : value.kind == TraceValue::kReal  ? kFloat8
                    : value.kind == TraceValue::kText  ? kText
                                                       : 0);
  }
  const PgResult result(PQexecParams(conn, sql.c_str(), static_cast<int>(values.size()),
                                     types.data(), pointers.data(), nullptr, nullptr, 0),
                        &PQclear);
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    passing = !result || Passing(PQresultErrorField(result.get(), PG_DIAG_SQLSTATE));
    problem = OneLine(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn));
    if (problem.empty()) problem = OneLine(PQerrorMessage(conn));
    return false;
  }
  for (int row = 0; row < PQntuples(result.get()); ++row) {
    TraceRow columns;
    for (int column = 0; column < PQnfields(result.get()); ++column) {
      columns.push_back(ValueAt(result.get(), row, column));
    }
    rows.push_back(std::move(columns));
  }
  return true;
}

bool PostgresStore::Connect(std::string& problem) {
  PQfinish(conn);
  // Ours first: the connection string's own settings, expanded after them, win. A server
  // that vanished without closing its sockets must not hold a station for minutes.
  // The trace crosses the plant's network only encrypted, to a server that proves itself by
  // its name with a certificate of libpq's root.crt or of the station policy's CA, unless the
  // connection string says otherwise; libpq ignores sslmode on a socket.
  // The trace keeps text as UTF-8 whatever the database's own encoding: a name the database
  // cannot hold is refused, not stored as other characters.
  std::vector<const char*> keys = {"connect_timeout", "tcp_user_timeout", "client_encoding",
                                   "sslmode"};
  std::vector<const char*> values = {"3", "10000", "UTF8", "verify-full"};
  if (!rootCertificate.empty()) {
    keys.push_back("sslrootcert");
    values.push_back(rootCertificate.c_str());
  }
  keys.insert(keys.end(), {"dbname", nullptr});
  values.insert(values.end(), {connection.c_str(), nullptr});
  conn = PQconnectdbParams(keys.data(), values.data(), 1);
  if (PQstatus(conn) == CONNECTION_OK) {
    return !lazy || Execute("SET synchronous_commit TO off", {}, problem);
  }
  unreachable = !Answers(connection, rootCertificate);
  // libpq repeats a connection string it cannot read, password and all.
  problem = "cannot open the trace " + name + ": " +
            WithAdvice(WithoutPassword(OneLine(PQerrorMessage(conn)), connection));
  PQfinish(conn);
  conn = nullptr;
  return false;
}

bool PostgresStore::Open(std::string& problem) {
  std::lock_guard<std::recursive_mutex> lock(mutex);
  unreachable = false;
  if (!Connect(problem)) return false;
  return Transaction(
      [this](TraceSql& sql, std::string& why) {
        TraceRows tables;
        if (!sql.Execute("SELECT pg_advisory_xact_lock($1)", {TraceValue::Integer(kMigrationLock)},
                         why) ||
            !sql.Query("SELECT table_name FROM information_schema.tables "
                       "WHERE table_schema = current_schema()",
                       {}, tables, why)) {
          return false;
        }
        std::vector<std::string> names;
        for (const TraceRow& row : tables) names.push_back(row[0].AsText());
        return UpToDate(sql, names, why);
      },
      problem);
}

bool PostgresStore::OpenToRead(std::string& problem) {
  std::lock_guard<std::recursive_mutex> lock(mutex);
  unreachable = false;
  return Connect(problem) &&
         Transaction([this](TraceSql& sql, std::string& why) { return Readable(sql, why); },
                     problem);
}

bool PostgresStore::ReadOnce(const Work& work, std::string& problem) {
  std::lock_guard<std::recursive_mutex> lock(mutex);
  unreachable = conn == nullptr || PQstatus(conn) != CONNECTION_OK;
  std::string why;
  passing = false;
  if (!unreachable && work(*this, why)) return true;
  unreachable = unreachable || passing || PQstatus(conn) != CONNECTION_OK;
  problem = unreachable && why.empty() ? "the trace server " + name + " does not answer"
            : why.rfind("the trace ", 0) == 0 ? why
                                              : "the trace " + name + ": " + why;
  return false;
}

bool PostgresStore::Transaction(const Work& work, std::string& problem) {
  std::lock_guard<std::recursive_mutex> lock(mutex);
  unreachable = conn == nullptr || PQstatus(conn) != CONNECTION_OK;
  if (unreachable) {
    problem = "the trace server " + name + " does not answer";
    return false;
  }
  std::string why;
  passing = false;
  const bool durable = lazy && durableNext;
  durableNext = false;
  if (Execute("BEGIN", {}, why) &&
      (!durable || Execute("SET LOCAL synchronous_commit TO on", {}, why)) && work(*this, why) &&
      Execute("COMMIT", {}, why)) {
    return true;
  }
  unreachable = passing || PQstatus(conn) != CONNECTION_OK;
  std::string ignored;
  if (PQstatus(conn) == CONNECTION_OK) Execute("ROLLBACK", {}, ignored);
  // The trace's own refusals name it already; the server's words follow its name.
  problem = why.rfind("the trace ", 0) == 0 ? why : "the trace " + name + ": " + why;
  return false;
}

}  // namespace qs71prog
