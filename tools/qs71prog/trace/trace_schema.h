#pragma once
// The trace's tables, one text for SQLite and PostgreSQL: only types and statements that both
// take the same way (TEXT, INTEGER, DOUBLE PRECISION, primary keys, no engine's own syntax).
//
// The schema's version is the one row of qs71_schema. A trace is brought up to date by the
// migrations after its version, each in the transaction that also raises the version; a trace
// of a version above kTraceSchema comes from a newer qs71prog and is refused, never changed.

#include <string>
#include <vector>

namespace qs71prog {

constexpr int kTraceSchema = 2;

// The statements that take a trace from version - 1 to version (version 1: from nothing).
const std::vector<std::string>& TraceMigration(int version);

// The events' columns after id, job and seq, in the CSV log's order: the same row both ways.
const std::vector<std::string>& TraceEventColumns();

}  // namespace qs71prog
