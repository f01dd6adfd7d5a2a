#pragma once
// What the trace's logic asks of a database: statements with parameters, in a transaction the
// store opened. The statements are written once, in SQL that SQLite and PostgreSQL read the
// same way ($1, $2, ... for the parameters; ON CONFLICT DO NOTHING), so that a station's trace
// and a line's behave alike.

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
// tables it already has; everything else is here.
class SqlTraceStore : public TraceStore {
 public:
  bool BeginRun(const TraceJob& job, const TraceRun& run, std::string& problem) override;
  bool TakeNumbers(const std::string& job, int want, int floor, NumberGrant& grant,
                   std::string& problem) override;
  bool GiveBack(const std::string& job, const std::vector<int>& numbers,
                std::string& problem) override;
  bool Record(const TraceEvent& event, std::string& problem) override;
  bool EndRun(const TraceRun& run, std::string& problem) override;
  bool Lot(const std::string& job, NumberGrant& state, std::string& problem) override;
  bool Unfinished(const std::string& host, const std::string& run, std::vector<TracePart>& parts,
                  std::string& problem) override;
  bool Load(const TraceFilter& filter, TraceContents& contents, std::string& problem) override;

 protected:
  using Work = std::function<bool(TraceSql&, std::string&)>;
  // work in one transaction, committed (and on the disk) when work and the commit succeed,
  // rolled back otherwise.
  virtual bool Transaction(const Work& work, std::string& problem) = 0;
  // In a transaction: creates the schema in a trace without one, or brings an older one up
  // to date; refuses a newer one, and a database that holds other tables and no trace.
  bool UpToDate(TraceSql& sql, const std::vector<std::string>& tables, std::string& problem);
};

}  // namespace qs71prog
