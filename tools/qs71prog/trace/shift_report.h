#pragma once
// The shift report of the production trace (qs71prog --report): the figures of
// trace/shift_figures.h as aligned plain text, or as one self-contained HTML page that draws
// each figure as an SVG chart beside the table of its numbers. The page loads nothing (no
// network, no file, no script), prints on paper, and carries every number in a data-figure
// attribute of its cell, so that a browser test reads what a person reads.

#include <string>
#include <utility>
#include <vector>

#include "platform/output_streams.h"
#include "trace/shift_figures.h"
#include "trace/trace_store.h"

namespace qs71prog {

struct ReportInfo {
  std::string title;  // after "Shift report": the trace as the screen names it
  // Shown first, in order: what was selected, when it was written, by which version.
  std::vector<std::pair<std::string, std::string>> facts;
};

std::string ReportText(const ShiftFigures& figures, const ReportInfo& info = {});
std::string ReportHtml(const ShiftFigures& figures, const ReportInfo& info = {});

// The report of contents: "-" writes the text to out; any other name gets the page, built
// beside it and renamed when complete (base/file_system.h). False with the file and the
// reason in problem.
bool WriteShiftReport(const TraceContents& contents, const std::string& file,
                      const ReportInfo& info, TextSink& out, std::string& problem);

}  // namespace qs71prog
