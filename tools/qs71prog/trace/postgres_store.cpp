#include "trace/postgres_store.h"

#include <libpq-fe.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <optional>
#include <sstream>

#include "trace/trace_schema.h"

namespace qs71prog {

namespace {

// A parameter's text, or nullopt for NULL. Every value reaches the server as a parameter,
// never inside the statement's text.
using Params = std::vector<std::optional<std::string>>;
using PgResult = std::unique_ptr<PGresult, decltype(&PQclear)>;

// The server's message on one line, for the screen and the log.
std::string OneLine(const char* message) {
  std::string text = message == nullptr ? "" : message;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

bool Exec(PGconn* conn, const std::string& sql, const Params& params, PgResult& result,
          std::string& problem) {
  std::vector<const char*> values;
  for (const auto& param : params) values.push_back(param ? param->c_str() : nullptr);
  result.reset(PQexecParams(conn, sql.c_str(), static_cast<int>(values.size()), nullptr,
                            values.data(), nullptr, nullptr, 0));
  ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return true;
  problem = OneLine(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn));
  if (problem.empty()) problem = OneLine(PQerrorMessage(conn));
  return false;
}

bool Exec(PGconn* conn, const std::string& sql, const Params& params, std::string& problem) {
  PgResult result(nullptr, &PQclear);
  return Exec(conn, sql, params, result, problem);
}

std::string Number(double value) {
  char text[32];
  auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

// A step's seconds: NULL for a step that did not run.
std::optional<std::string> Seconds(double value) {
  if (value < 0) return std::nullopt;
  return Number(value);
}

std::string Joined(const std::vector<std::string>& blocks) {
  std::string text;
  for (const auto& block : blocks) text += (text.empty() ? "" : " ") + block;
  return text;
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The columns of a result row by position, NULL read as empty, 0 or -1 (a step not run).
struct Row {
  const PGresult* result;
  int row;
  int column = 0;

  std::string Text() { return PQgetvalue(result, row, column++); }
  bool Null() const { return PQgetisnull(result, row, column); }
  int Int() {
    std::string text = Text();
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
  }
  double Double() {
    if (Null()) return column++, -1.0;
    std::string text = Text();
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
  }
};

std::string EventInsert() {
  std::string columns = "id, job, seq", places = "$1, $2, $3";
  int n = 3;
  for (const auto& column : TraceEventColumns()) {
    columns += ", " + column;
    places += ", $" + std::to_string(++n);
  }
  return "INSERT INTO events (" + columns + ") VALUES (" + places +
         ") ON CONFLICT (id) DO NOTHING";
}

// In TraceEventColumns' order.
Params EventParams(const TraceEvent& event) {
  const PartRecord& r = event.row;
  return {event.id, event.job, std::to_string(event.seq), r.time, r.host,
          std::to_string(r.programmer), r.programmerKey, std::to_string(r.part), r.chipId,
          std::to_string(r.otpSize), r.image, r.sha256, r.result, std::to_string(r.exit),
          Seconds(r.stepSeconds[1]), Seconds(r.stepSeconds[2]), Seconds(r.stepSeconds[3]),
          Joined(r.blocks), r.programmerPath, r.programmerSerial, r.status, Number(r.seconds),
          r.run, r.station, r.operatorName, std::to_string(r.code), r.event};
}

TraceEvent ReadEvent(Row in) {
  TraceEvent event;
  PartRecord& r = event.row;
  event.id = in.Text(), event.job = in.Text(), event.seq = in.Int();
  r.time = in.Text(), r.host = in.Text(), r.programmer = in.Int();
  r.programmerKey = in.Text(), r.part = in.Int(), r.chipId = in.Text(), r.otpSize = in.Int();
  r.image = in.Text(), r.sha256 = in.Text(), r.result = in.Text(), r.exit = in.Int();
  for (int stage = 1; stage <= 3; ++stage) r.stepSeconds[stage] = in.Double();
  r.blocks = Split(in.Text()), r.programmerPath = in.Text(), r.programmerSerial = in.Text();
  r.status = in.Text(), r.seconds = in.Double(), r.run = in.Text(), r.station = in.Text();
  r.operatorName = in.Text(), r.code = in.Int(), r.event = in.Text();
  return event;
}

const char* const kPartColumns =
    "job, number, run, programmer, chip_id, result, status, exit, code, seconds, "
    "blank_check_s, write_s, verify_s, blocks, started_at, ended_at";

TracePart ReadPart(Row in) {
  TracePart part;
  part.job = in.Text(), part.number = in.Int(), part.run = in.Text();
  part.programmer = in.Text(), part.chipId = in.Text(), part.result = in.Text();
  part.status = in.Text(), part.exit = in.Int(), part.code = in.Int();
  part.seconds = std::max(0.0, in.Double());
  for (int stage = 1; stage <= 3; ++stage) part.stepSeconds[stage] = in.Double();
  part.blocks = Split(in.Text()), part.startedAt = in.Text(), part.endedAt = in.Text();
  return part;
}

// A "started" event makes its part; the part's verdict fills it in.
bool RecordPart(PGconn* conn, const TraceEvent& event, std::string& problem) {
  const PartRecord& r = event.row;
  if (r.event == "started") {
    return Exec(conn,
                "INSERT INTO parts (job, number, run, programmer, chip_id, started_at) "
                "VALUES ($1, $2, $3, $4, $5, $6)",
                {event.job, std::to_string(r.part), r.run, r.programmerKey, r.chipId, r.time},
                problem);
  }
  if (r.event != "part") return true;
  return Exec(conn,
              "UPDATE parts SET result = $3, status = $4, exit = $5, code = $6, seconds = $7, "
              "blank_check_s = $8, write_s = $9, verify_s = $10, blocks = $11, ended_at = $12 "
              "WHERE job = $1 AND number = $2",
              {event.job, std::to_string(r.part), r.result, r.status, std::to_string(r.exit),
               std::to_string(r.code), Number(r.seconds), Seconds(r.stepSeconds[1]),
               Seconds(r.stepSeconds[2]), Seconds(r.stepSeconds[3]), Joined(r.blocks), r.time},
              problem);
}

bool CountParts(PGconn* conn, const std::string& job, int& made, std::string& problem) {
  PgResult result(nullptr, &PQclear);
  if (!Exec(conn, "SELECT count(*) FROM parts WHERE job = $1", {job}, result, problem)) {
    return false;
  }
  made = Row{result.get(), 0}.Int();
  return true;
}

// The spare numbers, lowest first, taken off the spare list.
bool TakeSpares(PGconn* conn, const std::string& job, int want, std::vector<int>& numbers,
                std::string& problem) {
  PgResult result(nullptr, &PQclear);
  if (!Exec(conn,
            "DELETE FROM spare_numbers WHERE job = $1 AND number IN (SELECT number FROM "
            "spare_numbers WHERE job = $1 ORDER BY number LIMIT $2) RETURNING number",
            {job, std::to_string(want)}, result, problem)) {
    return false;
  }
  for (int row = 0; row < PQntuples(result.get()); ++row) {
    numbers.push_back(Row{result.get(), row}.Int());
  }
  std::sort(numbers.begin(), numbers.end());
  return true;
}

// The job's row, locked until the transaction ends: every other station's TakeNumbers waits
// here, so that no two read the same next number.
bool LockJob(PGconn* conn, const std::string& job, int& next, int& lot, std::string& problem) {
  PgResult result(nullptr, &PQclear);
  if (!Exec(conn, "SELECT next_number, lot FROM jobs WHERE hash = $1 FOR UPDATE", {job}, result,
            problem)) {
    return false;
  }
  if (PQntuples(result.get()) != 1) {
    problem = "the job " + job + " has no run on this trace";
    return false;
  }
  Row row{result.get(), 0};
  next = row.Int(), lot = row.Int();
  return true;
}

bool TakeNew(PGconn* conn, const std::string& job, int want, int floor, NumberGrant& grant,
             std::string& problem) {
  int next = 0;
  if (!LockJob(conn, job, next, grant.lot, problem)) return false;
  if (!TakeSpares(conn, job, want, grant.numbers, problem)) return false;
  int number = std::max(next, floor + 1);
  while (static_cast<int>(grant.numbers.size()) < want && (grant.lot == 0 || number <= grant.lot)) {
    grant.numbers.push_back(number++);
  }
  if (number > next &&
      !Exec(conn, "UPDATE jobs SET next_number = $2 WHERE hash = $1",
            {job, std::to_string(number)}, problem)) {
    return false;
  }
  return CountParts(conn, job, grant.made, problem);
}

// The runs a filter selects, as a condition on the runs table's own columns ($1 to $3).
const char* const kSelected =
    "($1::text = '' OR id = $1::text) AND ($2::text = '' OR job = $2::text OR "
    "(length($2::text) >= 6 AND left(job, length($2::text)) = $2::text)) AND "
    "($3::text = '' OR started_at >= $3::text)";

template <typename Item, typename Read>
bool Select(PGconn* conn, const std::string& sql, const Params& params, std::vector<Item>& items,
            Read read, std::string& problem) {
  PgResult result(nullptr, &PQclear);
  if (!Exec(conn, sql, params, result, problem)) return false;
  for (int row = 0; row < PQntuples(result.get()); ++row) {
    items.push_back(read(Row{result.get(), row}));
  }
  return true;
}

TraceJob ReadJob(Row in) {
  TraceJob job;
  job.hash = in.Text(), job.name = in.Text(), job.workOrder = in.Text();
  job.signer = in.Text(), job.image = in.Text(), job.imageSha256 = in.Text();
  job.lot = in.Int();
  return job;
}

TraceRun ReadRun(Row in) {
  TraceRun run;
  run.id = in.Text(), run.job = in.Text(), run.station = in.Text();
  run.operatorName = in.Text(), run.host = in.Text(), run.version = in.Text();
  run.startedAt = in.Text(), run.endedAt = in.Text(), run.exit = in.Int(), run.how = in.Text();
  return run;
}

std::string EventSelect() {
  std::string columns = "e.id, e.job, e.seq";
  for (const auto& column : TraceEventColumns()) columns += ", e." + column;
  return "SELECT " + columns + " FROM events e JOIN runs r ON r.id = e.run WHERE e.run IN " +
         "(SELECT id FROM runs WHERE " + kSelected + ") ORDER BY r.started_at, r.id, e.seq";
}

bool LoadAll(PGconn* conn, const TraceFilter& filter, TraceContents& out, std::string& problem) {
  const Params params = {filter.run, filter.job, filter.since};
  const std::string where = kSelected;
  return Select(conn,
                "SELECT hash, name, work_order, signer, image, image_sha256, lot FROM jobs "
                "WHERE hash IN (SELECT job FROM runs WHERE " + where + ") ORDER BY hash",
                params, out.jobs, ReadJob, problem) &&
         Select(conn,
                "SELECT id, job, station, operator_name, host, version, started_at, "
                "coalesce(ended_at, ''), coalesce(exit, 0), coalesce(how, '') FROM runs "
                "WHERE " + where + " ORDER BY started_at, id",
                params, out.runs, ReadRun, problem) &&
         Select(conn,
                std::string("SELECT ") + kPartColumns + " FROM parts WHERE run IN (SELECT id "
                "FROM runs WHERE " + where + ") ORDER BY job, number",
                params, out.parts, ReadPart, problem) &&
         Select(conn, EventSelect(), params, out.events, ReadEvent, problem);
}

std::string NumberArray(const std::vector<int>& numbers) {
  std::string text = "{";
  for (int number : numbers) text += (text.size() > 1 ? "," : "") + std::to_string(number);
  return text + "}";
}

// Two stations opening an empty database at once must not both create the schema: the
// migration runs under this lock, held until its transaction ends.
constexpr const char* kMigrationLock = "7107";

// The stored version: 0 for a database without the trace's tables.
bool StoredVersion(PGconn* conn, int& version, std::string& problem) {
  PgResult result(nullptr, &PQclear);
  if (!Exec(conn, "SELECT to_regclass('qs71_schema') IS NOT NULL", {}, result, problem)) {
    return false;
  }
  version = 0;
  if (std::string(PQgetvalue(result.get(), 0, 0)) != "t") return true;
  if (!Exec(conn, "SELECT max(version) FROM qs71_schema", {}, result, problem)) return false;
  version = Row{result.get(), 0}.Int();
  return true;
}

bool Upgrade(PGconn* conn, int version, std::string& problem) {
  for (int next = version + 1; next <= kTraceSchema; ++next) {
    for (const auto& statement : TraceMigration(next)) {
      if (!Exec(conn, statement, {}, problem)) return false;
    }
    if (!Exec(conn, "UPDATE qs71_schema SET version = $1", {std::to_string(next)}, problem)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string PostgresDisplayName(const std::string& connection) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(connection.c_str(), &error);
  PQfreemem(error);
  if (options == nullptr) return "postgresql (an unreadable connection string)";
  std::string host, port, user, dbname;
  for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
    std::string key = option->keyword, value = option->val == nullptr ? "" : option->val;
    if (key == "host" || (key == "hostaddr" && host.empty())) host = value;
    if (key == "port") port = value;
    if (key == "user") user = value;
    if (key == "dbname") dbname = value;
  }
  PQconninfoFree(options);
  // A socket folder as the host: its slashes encoded, as a URI takes them.
  std::string encoded;
  for (char c : host) encoded += c == '/' ? std::string("%2F") : std::string(1, c);
  return "postgresql://" + (user.empty() ? "" : user + "@") + encoded +
         (port.empty() ? "" : ":" + port) + "/" + dbname;
}

PostgresStore::PostgresStore(std::string connection)
    : connection(std::move(connection)), name(PostgresDisplayName(this->connection)) {}

PostgresStore::~PostgresStore() { PQfinish(conn); }

bool PostgresStore::Connect(std::string& problem) {
  PQfinish(conn);
  // Ours first: the connection string's own settings, expanded after them, win. A server
  // that vanished without closing its sockets must not hold a station for minutes.
  const char* const keys[] = {"connect_timeout", "tcp_user_timeout", "dbname", nullptr};
  const char* const values[] = {"3", "10000", connection.c_str(), nullptr};
  conn = PQconnectdbParams(keys, values, 1);
  if (PQstatus(conn) == CONNECTION_OK) return true;
  // libpq tells "nobody answers" from "refused" only through a ping.
  unreachable = PQpingParams(keys, values, 1) == PQPING_NO_RESPONSE;
  problem = "cannot open the trace " + name + ": " + OneLine(PQerrorMessage(conn));
  PQfinish(conn);
  conn = nullptr;
  return false;
}

bool PostgresStore::Open(std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  unreachable = false;
  return Connect(problem) && Migrate(problem);
}

bool PostgresStore::Migrate(std::string& problem) {
  return Transact(
      [&](std::string& why) {
        int version = 0;
        if (!Exec(conn, "SELECT pg_advisory_xact_lock($1)", {kMigrationLock}, why) ||
            !StoredVersion(conn, version, why)) {
          return false;
        }
        if (version > kTraceSchema) {
          why = "has schema version " + std::to_string(version) + "; this qs71prog reads up to " +
                std::to_string(kTraceSchema) + ": use a newer qs71prog";
          return false;
        }
        return Upgrade(conn, version, why);
      },
      problem);
}

bool PostgresStore::Transact(const std::function<bool(std::string&)>& body,
                             std::string& problem) {
  unreachable = conn == nullptr || PQstatus(conn) != CONNECTION_OK;
  if (unreachable) {
    problem = "the trace server " + name + " does not answer";
    return false;
  }
  std::string why;
  if (Exec(conn, "BEGIN", {}, why) && body(why) && Exec(conn, "COMMIT", {}, why)) return true;
  unreachable = PQstatus(conn) != CONNECTION_OK;
  std::string ignored;
  if (!unreachable) Exec(conn, "ROLLBACK", {}, ignored);
  // The schema's refusal reads as a sentence about the trace; the server's own words follow
  // its name.
  problem = "the trace " + name + (why.rfind("has schema", 0) == 0 ? " " : ": ") + why;
  return false;
}

bool PostgresStore::BeginRun(const TraceJob& job, const TraceRun& run, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  return Transact(
      [&](std::string& why) {
        return Exec(conn,
                    "INSERT INTO jobs (hash, name, work_order, lot, signer, image, image_sha256, "
                    "next_number) VALUES ($1, $2, $3, $4, $5, $6, $7, 1) ON CONFLICT DO NOTHING",
                    {job.hash, job.name, job.workOrder, std::to_string(job.lot), job.signer,
                     job.image, job.imageSha256},
                    why) &&
               Exec(conn,
                    "INSERT INTO runs (id, job, station, operator_name, host, version, "
                    "started_at) VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT DO NOTHING",
                    {run.id, run.job, run.station, run.operatorName, run.host, run.version,
                     run.startedAt},
                    why);
      },
      problem);
}

bool PostgresStore::TakeNumbers(const std::string& job, int want, int floor, NumberGrant& grant,
                                std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  grant = NumberGrant{};
  NumberGrant taken;
  bool done = Transact(
      [&](std::string& why) { return TakeNew(conn, job, std::max(want, 0), floor, taken, why); },
      problem);
  if (done) grant = taken;
  return done;
}

bool PostgresStore::GiveBack(const std::string& job, const std::vector<int>& numbers,
                             std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  // Only numbers that were granted and that no part took: a give-back repeated after a part
  // took one of them must not offer it again.
  return Transact(
      [&](std::string& why) {
        return Exec(conn,
                    "INSERT INTO spare_numbers (job, number) SELECT $1, n FROM "
                    "unnest($2::int[]) AS n WHERE n < (SELECT next_number FROM jobs WHERE "
                    "hash = $1) AND NOT EXISTS (SELECT 1 FROM parts WHERE job = $1 AND "
                    "number = n) ON CONFLICT DO NOTHING",
                    {job, NumberArray(numbers)}, why);
      },
      problem);
}

bool PostgresStore::Record(const TraceEvent& event, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  static const std::string insert = EventInsert();
  return Transact(
      [&](std::string& why) {
        PgResult result(nullptr, &PQclear);
        if (!Exec(conn, insert, EventParams(event), result, why)) return false;
        // A second delivery of the event inserts nothing and must change nothing.
        bool fresh = std::string(PQcmdTuples(result.get())) == "1";
        return !fresh || event.row.part == 0 || RecordPart(conn, event, why);
      },
      problem);
}

bool PostgresStore::EndRun(const TraceRun& run, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  return Transact(
      [&](std::string& why) {
        return Exec(conn, "UPDATE runs SET ended_at = $2, exit = $3, how = $4 WHERE id = $1",
                    {run.id, run.endedAt, std::to_string(run.exit), run.how}, why);
      },
      problem);
}

bool PostgresStore::Lot(const std::string& job, NumberGrant& state, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  state = NumberGrant{};
  return Transact(
      [&](std::string& why) {
        PgResult result(nullptr, &PQclear);
        if (!Exec(conn, "SELECT lot FROM jobs WHERE hash = $1", {job}, result, why)) return false;
        if (PQntuples(result.get()) == 1) state.lot = Row{result.get(), 0}.Int();
        return CountParts(conn, job, state.made, why);
      },
      problem);
}

bool PostgresStore::Unfinished(const std::string& host, const std::string& run,
                               std::vector<TracePart>& parts, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  parts.clear();
  return Transact(
      [&](std::string& why) {
        return Select(conn,
                      std::string("SELECT ") + kPartColumns + " FROM parts WHERE ended_at IS "
                      "NULL AND run IN (SELECT id FROM runs WHERE host = $1 AND id <> $2) "
                      "ORDER BY job, number",
                      {host, run}, parts, ReadPart, why);
      },
      problem);
}

bool PostgresStore::Load(const TraceFilter& filter, TraceContents& contents,
                         std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  contents = TraceContents{};
  // One snapshot for the four reads: a run that ends meanwhile is either whole or absent.
  return Transact(
      [&](std::string& why) {
        return Exec(conn, "SET TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY", {}, why) &&
               LoadAll(conn, filter, contents, why);
      },
      problem);
}

}  // namespace qs71prog
