#!/usr/bin/env bash
# The job call against the file call: one whole job (blank check, write, verify) of the demo
# image (262144 bytes) on the emulated programmer, through Qs71UsbWriter with the file and
# through Qs71UsbJob with the bytes, alternating call by call (bench/prog_bench.cpp "both").
# Once unpaced, where the host's own time shows, and once at the real programmer's pace.
# Prints a Markdown table for bench/JOB_CALL.md.
#
#   bench/job_call.sh
#
# Environment:
#   QS71_BENCH_BUILD        build directory (build-bench, configured with QS71_BENCH=ON)
#   QS71_BENCH_REPEAT       unpaced pairs of calls (21)
#   QS71_BENCH_PACED_REPEAT paced pairs of calls (3; each call takes about 25 s)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${QS71_BENCH_BUILD:-$top/build-bench}
repeat=${QS71_BENCH_REPEAT:-21}
paced_repeat=${QS71_BENCH_PACED_REPEAT:-3}

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQS71_BENCH=ON >/dev/null
cmake --build "$build" --target qs71gen qs71_usb_writer_emulated qs71_bench_prog >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$top/examples" && "$build/gen/qs71gen" demo.qs "$work/demo.bin" >/dev/null)

echo "| pace | pairs | requests | file call: wall median (best) | job call: wall median (best) | file call: CPU median | job call: CPU median | job − file, wall | job − file, CPU |"
echo "|---|---|---|---|---|---|---|---|---|"
for pace in 0 1000; do
  pairs=$repeat
  [ "$pace" -eq 0 ] || pairs=$paced_repeat
  declare -A v=()
  while read -r key value; do v[$key]=$value; done < <(
    QS71_EMU_PACE_US=$pace "$build/bench/qs71_bench_prog" \
      "$build/usbwriter/libqs71_usb_writer_emulated.so" "$work/demo.bin" "$pairs" both)
  [ "${v[result]}" = 0 ] || { echo "the job failed: ${v[result]}" >&2; exit 1; }
  awk -v pace="$pace" -v pairs="$pairs" -v req="${v[requests_total]}" \
      -v fw="${v[file_median_s]}" -v fb="${v[file_best_s]}" -v jw="${v[job_median_s]}" \
      -v jb="${v[job_best_s]}" -v fc="${v[file_cpu_median_s]}" -v jc="${v[job_cpu_median_s]}" \
      'BEGIN { printf "| %d µs | %d | %d | %.4f s (%.4f) | %.4f s (%.4f) | %.4f s | %.4f s | %+.4f s (%+.2f %%) | %+.4f s (%+.2f %%) |\n",
               pace, pairs, req, fw, fb, jw, jb, fc, jc, jw - fw, 100 * (jw - fw) / fw,
               jc - fc, 100 * (jc - fc) / fc }'
  unset v
done
