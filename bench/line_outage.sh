#!/usr/bin/env bash
# A line's hour without its server, at the real pace scaled down: the LineOutage test of
# tests/line/ (stations A with two programmers and B with one on one PostgreSQL trace, the
# server stopped after half an hour for an hour, the lot then made to its end, the line's
# invariants against the part files), once with the default reserve of 30 minutes and once
# with a reserve that outlasts the outage; its figures go into bench/RESULTS.md between the
# line-outage markers.
#
#   bench/line_outage.sh
#
# Environment:
#   QS71_OUTAGE_SCALE  every time divided by this (30: a request takes 33 µs for 1 ms, the hour
#                      lasts 120 s, a reserve of 30 minutes is reserve-minutes = 1)
#   QS71_OUTAGE_RESERVES  the real reserves tried, in minutes ("30 120"), multiples of the scale
#   QS71_BENCH_BUILD   build directory (build-bench-line: the tests are built, in Release)
#   QS71_BENCH_OUT     results file (bench/RESULTS.md)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QS71_BENCH_BUILD:-$top/build-bench-line}
out=${QS71_BENCH_OUT:-$top/bench/RESULTS.md}
scale=${QS71_OUTAGE_SCALE:-30}
reserves=${QS71_OUTAGE_RESERVES:-30 120}
source "$top/bench/results_section.sh"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target qs71_line_tests qs71prog qs71gen qs71_usb_writer_emulated >/dev/null
block=$(mktemp)
failed=0
{
  echo "<!-- line-outage:begin (bench/line_outage.sh writes this section) -->"
  echo "Run of $(date -u +%Y-%m-%d) on $(nproc) cores (load $(cut -d' ' -f1 /proc/loadavg) at the start), scale $scale:"
  echo
  for reserve in $reserves; do
    log=$build/line_outage_$reserve.log
    if ! QS71_OUTAGE_SCALE=$scale QS71_OUTAGE_RESERVE_MINUTES=$reserve \
        "$build/tests/line/qs71_line_tests" --gtest_filter='LineOutage.*' >"$log" 2>&1; then
      failed=1
    fi
    echo "Reserve of $reserve minutes:"
    echo
    { grep -E "^outage" "$log" || echo "no figures: see $log"; } | sed 's/^/    /'
    grep -q "^\[  PASSED  \]" "$log" || echo "    FAILED: see $log"
    echo
  done
  echo "<!-- line-outage:end -->"
} >"$block"
if ! replace_results_section line-outage "$out" "$block"; then
  { echo; echo "## A line's hour without its server (bench/line_outage.sh)"; echo; cat "$block"; } >>"$out"
fi
cat "$block" >&2
rm -f "$block"
[ "$failed" -eq 0 ]
