#!/usr/bin/env bash
# The line under faults, for a long time: the test of tests/line/ (three stations of qs71prog on
# one PostgreSQL trace, a seeded schedule of faults each time, the invariants against the part
# files) run schedule after schedule for QS71_SOAK_SECONDS, and its figures written into
# bench/RESULTS.md between the line-soak markers: schedules, faults, part files, attempts,
# passes and violations. The seed of any schedule that broke an invariant is in the log.
#
#   bench/line_soak.sh
#
# Environment:
#   QS71_SOAK_SECONDS  how long schedules are drawn and run (1800)
#   QS71_BENCH_BUILD   build directory (build-bench-line: the tests are built, in Release)
#   QS71_BENCH_OUT     results file (bench/RESULTS.md)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QS71_BENCH_BUILD:-$top/build-bench-line}
out=${QS71_BENCH_OUT:-$top/bench/RESULTS.md}
seconds=${QS71_SOAK_SECONDS:-1800}
source "$top/bench/results_section.sh"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target qs71_line_tests qs71prog qs71gen qs71_usb_writer_emulated >/dev/null
log=$build/line_soak.log
start=$SECONDS
QS71_LINE_SECONDS=$seconds "$build/tests/line/qs71_line_tests" >"$log" 2>&1 || true
summary=$(grep -E "^line: " "$log" | tail -1)
[ -n "$summary" ] || { echo "bench: the line test printed no summary (log: $log)" >&2; exit 1; }
echo "bench: $summary" >&2
read -r schedules faults parts attempts passes open violations < <(
  sed -E 's/line: ([0-9]+) schedules, ([0-9]+) faults, ([0-9]+) part files, ([0-9]+) attempts, ([0-9]+) passes, ([0-9]+) left under way, ([0-9]+) violations/\1 \2 \3 \4 \5 \6 \7/' <<<"$summary")
block=$(mktemp)
{
  echo "<!-- line-soak:begin (bench/line_soak.sh writes this section) -->"
  echo "Run of $(date -u +%Y-%m-%d) on $(nproc) cores, $((SECONDS - start)) s of schedules"
  echo "(QS71_SOAK_SECONDS=$seconds):"
  echo
  echo "| schedules | faults | part files | attempts | passes | left under way (to check) | violations |"
  echo "|---:|---:|---:|---:|---:|---:|---:|"
  echo "| $schedules | $faults | $parts | $attempts | $passes | $open | $violations |"
  echo
  { grep -E "^QS71_LINE_SEED=[0-9]+: " "$log" || true; } | cut -c1-200 | sed 's/^/    /' | head -40
  echo "<!-- line-soak:end -->"
} >"$block"
if ! replace_results_section line-soak "$out" "$block"; then
  { echo; echo "## The line under faults, soaked (bench/line_soak.sh)"; echo; cat "$block"; } >>"$out"
fi
rm -f "$block"
[ "$violations" -eq 0 ]
