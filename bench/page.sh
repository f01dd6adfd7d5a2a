#!/usr/bin/env bash
# The image page of a full part: a 2 MiB image with 200 ADPCM sounds (8 kHz, about 1.3 s each,
# the sound data area full to the last kilobyte), its page written by qs71gen --html and by
# qs71dump --html. Measures the page's size and the time each program takes with and without
# it, so the difference is the page's own cost. Builds its own Release configuration and makes
# its own inputs (fixed seeds); prints a Markdown table for bench/RESULTS.md.
#
#   bench/page.sh
#
# Environment:
#   QS71_BENCH_BUILD   build directory (build-bench)
#   QS71_BENCH_REPEAT  runs per measurement, interleaved; best and median are reported (5)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${QS71_BENCH_BUILD:-$top/build-bench}
repeat=${QS71_BENCH_REPEAT:-5}
sounds=200
frames=20800  # 10400 bytes of ADPCM each: 2080000 of the 2096640 bytes the part has for data
data=$build/bench-page

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQS71_BENCH=ON >/dev/null
cmake --build "$build" --target qs71gen qs71dump qs71_bench_inputs qs71_bench_timed >/dev/null
gen=$build/gen/qs71gen
dump=$build/tools/qs71dump/qs71dump
timed=$build/bench/qs71_bench_timed

rm -rf "$data"
mkdir -p "$data"
{
  echo "; the page benchmark: $sounds ADPCM sounds filling a 2 MiB part"
  echo ".GLOBAL \$FILESIZE = 200000h"
  for i in $(seq 1 $sounds); do echo ".ADPCM voice$i = \"voice$i.wav\""; done
  for i in $(seq 1 $sounds); do echo ".SECTION [$(( (i - 1) % 16 + 1 ))] \$GROUPS = voice$i(8000):0"; done
} >"$data/full.qs"
for i in $(seq 1 $sounds); do
  "$build/bench/qs71_bench_inputs" wav "$data/voice$i.wav" $frames 8000 "$i"
done

# One timed run: "WALL_S USER_S SYS_S MAXRSS_KIB ..."; the wall time, the CPU time (user and
# system) and the peak memory.
run() { (cd "$data" && "$timed" -- "$@") | awk '{print $1, $2 + $3, $4}'; }

declare -A wall cpu rss
cases=(gen gen-html dump dump-html)
command_of() {
  case $1 in
    gen) echo "$gen full.qs full.bin" ;;
    gen-html) echo "$gen --html gen.html full.qs full.bin" ;;
    dump) echo "$dump full.bin" ;;
    dump-html) echo "$dump --html dump.html full.bin" ;;
  esac
}
(cd "$data" && "$gen" full.qs full.bin >/dev/null)
for r in $(seq 1 "$repeat"); do
  for c in "${cases[@]}"; do
    read -r w u m < <(run $(command_of "$c"))
    wall[$c]+="$w "
    cpu[$c]+="$u "
    rss[$c]=$m
  done
done

best() { tr ' ' '\n' <<<"$1" | grep . | sort -g | head -1; }
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "Image: $(stat -c %s "$data/full.bin") bytes, $sounds sounds"
echo "Pages: qs71gen $(stat -c %s "$data/gen.html") bytes, qs71dump $(stat -c %s "$data/dump.html") bytes"
echo
echo "| run ($repeat each) | best s | median s | median CPU s | peak MiB |"
echo "|---|---|---|---|---|"
for c in "${cases[@]}"; do
  printf '| %s | %s | %s | %s | %.1f |\n' "$(command_of "$c" | sed "s|$build/||g")" \
    "$(best "${wall[$c]}")" "$(median "${wall[$c]}")" "$(median "${cpu[$c]}")" \
    "$(awk -v k="${rss[$c]}" 'BEGIN {print k / 1024}')"
done
