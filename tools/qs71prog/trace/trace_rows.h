#pragma once
// The trace's rows as the statements of trace_sql.cpp, trace_records.cpp and trace_numbers.cpp
// write and read them: each table's columns in one order, and its rows to values and back.

#include <string>
#include <vector>

#include "trace/trace_sql.h"

namespace qs71prog {

// The columns of each table, in the order the conversions below take them.
extern const char* const kPartColumns;
extern const char* const kRunColumns;
extern const char* const kJobColumns;
// The events' columns with a prefix before each ("e." for a join): id, job, seq, then
// TraceEventColumns.
std::string EventColumns(const std::string& prefix = "");

TraceRow EventValues(const TraceEvent& event);
TraceEvent EventOf(const TraceRow& values);
TracePart PartOf(const TraceRow& values);
TraceRun RunOf(const TraceRow& values);
TraceJob JobOf(const TraceRow& values);
// A run's process: its pid column, or for a run of a trace of version 1, its ID's end.
long PidOf(const TraceValue& pid, const std::string& runId);

// Numbers as the grants table keeps them, "3 4 5", and back.
std::string NumbersText(const std::vector<int>& numbers);
std::vector<int> NumbersOf(const std::string& text);

// A row as a conflict names it: what the event, part or run is, where and when.
std::string EventText(const TraceEvent& event);
std::string PartText(const TracePart& part);
std::string RunText(const TraceRun& run);

}  // namespace qs71prog
