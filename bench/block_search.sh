#!/usr/bin/env bash
# qs71prog's search for failing blocks at the real programmer's pace: after a verify of a 2 MiB part failed
# on 1, 2 or 20 cells that would not program, how long the search for the failing 256-byte
# blocks takes (bench/locate_bench.cpp). Prints a Markdown table for bench/RESULTS.md.
#
#   bench/block_search.sh
#
# Environment:
#   QS71_BENCH_BUILD  build directory (build-bench, configured with QS71_BENCH=ON)
#   QS71_EMU_PACE_US  microseconds per request (1000: one USB frame, as a real programmer)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${QS71_BENCH_BUILD:-$top/build-bench}
export QS71_EMU_PACE_US=${QS71_EMU_PACE_US:-1000}

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQS71_BENCH=ON >/dev/null
cmake --build "$build" --target qs71_bench_locate >/dev/null

# Twenty cells spread over the part, one in each twentieth.
spread=$(for i in $(seq 0 19); do printf '0x%X,' $((i * 0x19999 + 0x2345)); done)
cases=(
  "1 cell near the start|0x2345"
  "1 cell near the end|0x1C2345"
  "2 cells|0x2345,0x123456"
  "20 cells, spread|${spread%,}"
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "| stuck cells | blocks found | comparisons | bytes compared (parts) | requests | seconds at $QS71_EMU_PACE_US µs |"
echo "|---|---|---|---|---|---|"
for entry in "${cases[@]}"; do
  name=${entry%%|*}
  declare -A v=()
  while read -r key value; do v[$key]=$value; done < <(
    "$build/bench/qs71_bench_locate" "$build/usbwriter/libqs71_usb_writer_emulated.so" "$work" \
      "${entry#*|}" | grep -E '^[a-z_]+ [^ ]+$')
  echo "| $name | ${v[blocks]} | ${v[comparisons]} | ${v[bytes_compared]} (${v[parts_compared]}) | ${v[requests]} | ${v[seconds]} |"
  unset v
done
