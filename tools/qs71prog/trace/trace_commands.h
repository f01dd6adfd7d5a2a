#pragma once
// What qs71prog does with a trace besides recording into it: --export-csv writes the CSV log
// again from it, --report the shift report.

#include "cli/exit_codes.h"
#include "cli/prog_options.h"
#include "platform/output_streams.h"
#include "trace/run_trace.h"
#include "trace/trace_store.h"

namespace qs71prog {

// Where options record: --trace (the policy's trace, where there is one), and the policy's
// spool, CA and reserve.
TracePlace TracePlaceOf(const Options& options);

// The trace that options.trace names, opened to read, and what --run, --job and --since
// select from it (the parts' own events too when partEvents), with the trace's name. False
// with the reason.
bool ReadTrace(const Options& options, bool partEvents, TraceContents& contents,
               std::string& name, std::string& problem);

// --export-csv FILE: the selected runs' rows as the CSV log has them, header first; for the
// runs of one log, byte for byte that log.
ExitCode ExportCsvCommand(const Options& options, Console& console);

// --report FILE: the shift report of the selected runs as one page; --report - as text on
// standard output.
ExitCode ReportCommand(const Options& options, Console& console);

// --clear-refused: the events that the line's server refused, set aside in this station's
// spool, sent again; what it takes now leaves the spool, the rest stays there, cleared, and
// no longer counts as refused on the screen and in the report. Each is listed.
ExitCode ClearRefusedCommand(const Options& options, Console& console);

}  // namespace qs71prog
