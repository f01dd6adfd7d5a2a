// How long qs71prog's shift report takes for a big trace: a shift of PARTS parts made in
// memory as the trace would hold them (8 programmers, 3 operators over two runs, one part in
// 50 failed with a cause and blocks, losses and returns), then its figures, its page and its
// text, each timed. The trace's loading from the database is the store's and not timed here.
//
//   qs71_bench_shift_report PARTS [PAGE]
//
// Prints "key value" lines: the parts, the page's bytes and the wall time of each step; PAGE,
// when given, gets the page.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "production/part_record.h"
#include "trace/shift_report.h"

namespace {

using qs71prog::TraceContents;

constexpr int kProgrammers = 8;
const char* const kCauses[] = {"verify-mismatch — reject the part", "write-failed",
                               "blank-check — part not blank"};

std::string Time(std::chrono::system_clock::time_point start, double seconds) {
  return qs71prog::UtcTimestamp(start +
                                std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                    std::chrono::duration<double>(seconds)));
}

// One part every 0.3 s across the programmers: 100,000 parts are a shift of about 8 hours.
void AddParts(TraceContents& trace, int count, std::chrono::system_clock::time_point start) {
  unsigned seed = 12345;
  for (int index = 0; index < count; ++index) {
    seed = seed * 1103515245u + 12345u;
    qs71prog::TracePart part;
    part.job = "job";
    part.number = index + 1;
    part.run = index < count / 2 ? "run1" : "run2";
    part.programmer = "QS71EMU-0" + std::to_string(index % kProgrammers + 1);
    const bool failed = (seed >> 16) % 50 == 0;
    part.result = failed ? "fail" : "pass";
    if (failed) {
      part.status = kCauses[(seed >> 8) % 3];
      part.blocks = {"0x" + std::to_string(100000 + (seed >> 4) % 40) + "-end"};
    }
    part.startedAt = Time(start, index * 0.3);
    part.endedAt = Time(start, index * 0.3 + 2.4);
    trace.parts.push_back(part);
  }
}

void AddLosses(TraceContents& trace, int count, std::chrono::system_clock::time_point start) {
  for (int index = 0; index < count / 1000; ++index) {
    for (const char* kind : {"lost", "back"}) {
      qs71prog::TraceEvent event;
      event.row.event = kind;
      event.row.run = index < count / 2000 ? "run1" : "run2";
      event.row.programmerKey = "QS71EMU-0" + std::to_string(index % kProgrammers + 1);
      event.row.time = Time(start, index * 300.0 + (kind[0] == 'b' ? 40.0 : 0.0));
      trace.events.push_back(event);
    }
  }
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || std::atoi(argv[1]) <= 0) {
    std::fprintf(stderr, "usage: qs71_bench_shift_report PARTS [PAGE]\n");
    return 2;
  }
  const int count = std::atoi(argv[1]);
  const auto start = std::chrono::system_clock::time_point{} + std::chrono::hours(500000);
  TraceContents trace;
  trace.jobs = {qs71prog::TraceJob{"job", "demo", "WO-1", "", "demo.bin", "", count + count / 10}};
  trace.runs = {{"run1", "job", "station", "ann", "", "", "", "", 0, ""},
                {"run2", "job", "station", "bob", "", "", "", "", 0, ""}};
  AddParts(trace, count, start);
  AddLosses(trace, count, start);

  const auto began = std::chrono::steady_clock::now();
  const qs71prog::ShiftFigures figures = qs71prog::Figures(trace);
  const double counted = Since(began);
  const std::string page = qs71prog::ReportHtml(figures, {"bench", {}});
  const double paged = Since(began);
  const std::string text = qs71prog::ReportText(figures, {"bench", {}});
  const double texted = Since(began);
  if (argc > 2) std::ofstream(argv[2], std::ios::binary) << page;
  std::printf(
      "parts %d\npage_bytes %lu\ntext_bytes %lu\nfigures_s %.4f\npage_s %.4f\ntext_s %.4f\n", count,
      static_cast<unsigned long>(page.size()), static_cast<unsigned long>(text.size()), counted,
      paged - counted, texted - paged);
  return 0;
}
