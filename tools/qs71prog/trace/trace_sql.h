#pragma once
// What the trace's logic asks of a database: statements with parameters, in a transaction the
// store opened. The statements are written once, in SQL that SQLite and PostgreSQL read the
// same way ($1, $2, ... for the parameters; ON CONFLICT DO NOTHING followed by a look at
// what was there, RETURNING), so that a station's trace and a line's behave alike.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "trace/trace_store.h"

namespace qs71prog {

struct TraceValue {
  enum Kind { kNull, kInteger, kReal, kText };
  Kind kind = kNull;
  int64_t integer = 0;
  double real = 0.0;
  std::string text;

  static TraceValue Null() { return {}; }
  static TraceValue Integer(int64_t value) { return {kInteger, value, 0.0, {}}; }
  static TraceValue Real(double value) { return {kReal, 0, value, {}}; }
  static TraceValue Text(std::string value) { return {kText, 0, 0.0, std::move(value)}; }
  // A step's seconds: NULL where it did not run.
  static TraceValue Seconds(double value) { return value < 0.0 ? Null() : Real(value); }

  std::string AsText() const;
  int64_t AsInteger() const;
  double AsReal() const;  // -1 for NULL: the step did not run

  bool operator==(const TraceValue& other) const {
    return kind == other.kind && integer == other.integer && real == other.real &&
           text == other.text;
  }
};
using TraceRow = std::vector<TraceValue>;
using TraceRows = std::vector<TraceRow>;

class TraceSql {
 public:
  virtual ~TraceSql() = default;
  // The rows a statement gives; false with the database's reason.
  virtual bool Query(const std::string& sql, const TraceRow& values, TraceRows& rows,
                     std::string& problem) = 0;
  bool Execute(const std::string& sql, const TraceRow& values, std::string& problem) {
    TraceRows rows;
    return Query(sql, values, rows, problem);
  }
};

// The trace's logic over any TraceSql: a store gives its connection, its transactions and the
// tables it already has; everything else is here. The *In calls are the same operations in a
// transaction the caller holds, so that a station's spool can queue an entry in the same one
// (trace/station_spool.h).
class SqlTraceStore : public TraceStore {
 public:
  using Work = std::function<bool(TraceSql&, std::string&)>;

  std::vector<std::string> Notes() const override { return notes; }
  bool BeginRun(const TraceJob& job, const TraceRun& run, std::string& problem) override;
  bool TakeNumbers(const std::string& job, const std::string& run, int want, int floor,
                   NumberGrant& grant, std::string& problem) override;
  bool GiveBack(const std::string& job, const std::string& grant, const std::vector<int>& numbers,
                std::string& problem) override;
  bool Record(const TraceEvent& event, std::string& problem) override;
  bool EndRun(const TraceRun& run, std::string& problem) override;
  bool Lot(const std::string& job, LotState& state, std::string& problem) override;
  bool Unfinished(const std::string& host, const std::string& run, std::vector<TracePart>& parts,
                  std::vector<long>& pids, std::string& problem) override;
  bool OpenGrants(const std::string& host, const std::string& run, std::vector<OpenGrant>& grants,
                  std::string& problem) override;
  bool Load(const TraceFilter& filter, TraceContents& contents, std::string& problem) override;

  // work in one transaction, committed (and on the disk) when work and the commit succeed,
  // rolled back otherwise.
  virtual bool Transaction(const Work& work, std::string& problem) = 0;
  // work of one statement that only reads: where each statement is a transaction of its own
  // (a server), without a transaction around it, a round trip each way the fewer.
  virtual bool ReadOnce(const Work& work, std::string& problem) { return Transaction(work, problem); }

  bool BeginRunIn(TraceSql& sql, const TraceJob& job, const TraceRun& run, std::string& problem);
  bool RecordIn(TraceSql& sql, const TraceEvent& event, std::string& problem);
  bool EndRunIn(TraceSql& sql, const TraceRun& run, std::string& problem);
  bool GiveBackIn(TraceSql& sql, const std::string& job, const std::string& grant,
                  const std::vector<int>& numbers, std::string& problem);
  // A grant that a line's server made, recorded in the station's own trace as it is: so that
  // a crash's reserve can be given back at the next start, and the station's numbers go on
  // where the line's do. A number that a part of this trace already took is a conflict: the
  // server was restored from an older backup.
  bool AdoptGrantIn(TraceSql& sql, const std::string& job, const std::string& run,
                    const NumberGrant& grant, std::string& problem);
  bool LotIn(TraceSql& sql, const std::string& job, LotState& state, std::string& problem);

 protected:
  // In a transaction: creates the schema in a trace without one, or brings an older one up
  // to date, and repairs next numbers behind the parts (Notes); refuses a newer one, and a
  // database that holds other tables and no trace.
  bool UpToDate(TraceSql& sql, const std::vector<std::string>& tables, std::string& problem);
  // In a transaction, for reading: a trace of this version, or the reason it cannot be read.
  bool Readable(TraceSql& sql, std::string& problem);

 private:
  bool TakeNumbersIn(TraceSql& sql, const std::string& job, const std::string& run, int want,
                     int floor, NumberGrant& grant, std::string& problem);
  bool Repair(TraceSql& sql, std::string& problem);
  bool RecordPart(TraceSql& sql, const TraceEvent& event, std::string& problem);

  std::vector<std::string> notes;
};

// The step a part's job ended in, as the parts table keeps it: the last step that ran.
std::string PartStep(const PartRecord& row);

}  // namespace qs71prog
