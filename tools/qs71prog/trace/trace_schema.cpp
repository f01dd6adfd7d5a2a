#include "trace/trace_schema.h"

namespace qs71prog {

namespace {

// Version 1. jobs.next_number is the lowest number never granted; spare_numbers holds the
// ones granted and given back unused. parts has a part per number of its job. events holds
// every row of the CSV log, whole, so that the log can be written again from it.
const std::vector<std::string> kVersion1 = {
    "CREATE TABLE qs71_schema (version INTEGER NOT NULL)",
    "INSERT INTO qs71_schema (version) VALUES (0)",
    "CREATE TABLE jobs (hash TEXT PRIMARY KEY, name TEXT NOT NULL, work_order TEXT NOT NULL, "
    "lot INTEGER NOT NULL, signer TEXT NOT NULL, image TEXT NOT NULL, "
    "image_sha256 TEXT NOT NULL, next_number INTEGER NOT NULL)",
    "CREATE TABLE spare_numbers (job TEXT NOT NULL REFERENCES jobs (hash), "
    "number INTEGER NOT NULL, PRIMARY KEY (job, number))",
    "CREATE TABLE runs (id TEXT PRIMARY KEY, job TEXT NOT NULL REFERENCES jobs (hash), "
    "station TEXT NOT NULL, operator_name TEXT NOT NULL, host TEXT NOT NULL, "
    "version TEXT NOT NULL, started_at TEXT NOT NULL, ended_at TEXT, exit INTEGER, how TEXT)",
    "CREATE TABLE parts (job TEXT NOT NULL REFERENCES jobs (hash), number INTEGER NOT NULL, "
    "run TEXT NOT NULL REFERENCES runs (id), programmer TEXT NOT NULL, chip_id TEXT NOT NULL, "
    "result TEXT, status TEXT, exit INTEGER, code INTEGER, seconds DOUBLE PRECISION, "
    "blank_check_s DOUBLE PRECISION, write_s DOUBLE PRECISION, verify_s DOUBLE PRECISION, "
    "blocks TEXT, started_at TEXT NOT NULL, ended_at TEXT, PRIMARY KEY (job, number))",
    "CREATE TABLE events (id TEXT PRIMARY KEY, job TEXT NOT NULL REFERENCES jobs (hash), "
    "seq INTEGER NOT NULL, at TEXT NOT NULL, host TEXT NOT NULL, tile INTEGER NOT NULL, "
    "programmer TEXT NOT NULL, part INTEGER NOT NULL, chip_id TEXT NOT NULL, "
    "otp_size INTEGER NOT NULL, image TEXT NOT NULL, sha256 TEXT NOT NULL, "
    "result TEXT NOT NULL, exit INTEGER NOT NULL, blank_check_s DOUBLE PRECISION, "
    "write_s DOUBLE PRECISION, verify_s DOUBLE PRECISION, blocks TEXT NOT NULL, "
    "programmer_path TEXT NOT NULL, programmer_serial TEXT NOT NULL, status TEXT NOT NULL, "
    "seconds DOUBLE PRECISION NOT NULL, run TEXT NOT NULL REFERENCES runs (id), "
    "station TEXT NOT NULL, operator_name TEXT NOT NULL, code INTEGER NOT NULL, "
    "kind TEXT NOT NULL)",
    "CREATE INDEX events_by_run ON events (run, seq)",
    "CREATE INDEX parts_by_run ON parts (run)",
};

// Version 2. A run's ID is random and no longer names its process, so runs keeps the process
// (pid) for the crash report; a trace of version 1 names it in the ID's end, which is read
// there. Numbers are granted as grants, each a row with its own ID (made by the station, so
// that a request repeated after a lost answer gets the same numbers), and granted_numbers
// says which grant holds each number now: giving back is by grant, so a give-back repeated
// after the numbers went to another station hands them out to nobody. parts.step is the step
// a part's job ended in ("blank-check", "write", "verify", "identify"), read from the step
// times that version 1 recorded.
const std::vector<std::string> kVersion2 = {
    "ALTER TABLE runs ADD COLUMN pid INTEGER",
    "ALTER TABLE parts ADD COLUMN step TEXT",
    "UPDATE parts SET step = CASE WHEN verify_s IS NOT NULL THEN 'verify' "
    "WHEN write_s IS NOT NULL THEN 'write' WHEN blank_check_s IS NOT NULL THEN 'blank-check' "
    "ELSE 'identify' END WHERE result IS NOT NULL",
    "CREATE TABLE grants (id TEXT PRIMARY KEY, job TEXT NOT NULL REFERENCES jobs (hash), "
    "run TEXT NOT NULL REFERENCES runs (id), numbers TEXT NOT NULL, granted_at TEXT NOT NULL, "
    "returned_at TEXT)",
    "CREATE TABLE granted_numbers (job TEXT NOT NULL REFERENCES jobs (hash), "
    "number INTEGER NOT NULL, grant_id TEXT NOT NULL REFERENCES grants (id), "
    "PRIMARY KEY (job, number))",
    "CREATE INDEX grants_by_run ON grants (run)",
    "CREATE INDEX granted_by_grant ON granted_numbers (grant_id)",
};

const std::vector<std::string> kNone;

}  // namespace

const std::vector<std::string>& TraceMigration(int version) {
  switch (version) {
    case 1: return kVersion1;
    case 2: return kVersion2;
    default: return kNone;
  }
}

const std::vector<std::string>& TraceEventColumns() {
  static const std::vector<std::string> columns = {
      "at",       "host",     "tile",   "programmer", "part",   "chip_id",
      "otp_size", "image",    "sha256", "result",     "exit",   "blank_check_s",
      "write_s",  "verify_s", "blocks", "programmer_path", "programmer_serial", "status",
      "seconds",  "run",      "station", "operator_name",  "code", "kind"};
  return columns;
}

}  // namespace qs71prog
