#!/usr/bin/env bash
# qs71prog's production trace: what it adds to each part beside the CSV log, without the
# programmer's pace (bench/trace_bench.cpp: the log, RunTrace on SQLite and on a PostgreSQL
# server the bench starts itself), and how long the shift report of a trace of 100,000 parts
# takes as a process (a trace made by bench/make_trace.cpp through the trace's own schema).
# Builds its own Release configuration; everything it writes stays in the build folder
# (bench-trace/). When run as root, the per-part figures are taken a second time on a tmpfs
# mounted in a mount namespace of the bench's own, where a sync costs nothing: the difference
# is what the disk's syncs cost. Prints Markdown tables for bench/RESULTS.md.
#
#   bench/trace.sh
#
# Environment:
#   QS71_BENCH_BUILD   build directory (build-bench)
#   QS71_BENCH_REPEAT  runs of each report command, interleaved; best and median reported (5)
#   QS71_BENCH_PARTS   parts per mode in the per-part bench (500), in 5 interleaved rounds
#   QS71_BENCH_TRACE   parts in the big trace (100000)
#   QS71_BENCH_LOAD    busy processes running beside the per-part bench (4): the load the
#                      figures are meant for, a load of 4 on the machine's 2 cores; 0 for none
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${QS71_BENCH_BUILD:-$top/build-bench}
repeat=${QS71_BENCH_REPEAT:-5}
parts=${QS71_BENCH_PARTS:-500}
traced=${QS71_BENCH_TRACE:-100000}
load=${QS71_BENCH_LOAD:-4}
data=$build/bench-trace

say() { echo "bench: $*" >&2; }

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQS71_BENCH=ON \
  -DQS71_TESTS=OFF >/dev/null
cmake --build "$build" --target qs71prog qs71_bench_timed qs71_bench_trace \
  qs71_bench_make_trace >/dev/null
prog=$build/tools/qs71prog/qs71prog
timed=$build/bench/qs71_bench_timed
rm -rf "$data"
mkdir -p "$data/disk" "$data/tmpfs"
# PostgreSQL runs as nobody when the bench runs as root: it must reach its folder.
[ "$(id -u)" -eq 0 ] && chmod o+x "$data"

echo "Machine: $(nproc) cores ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs))," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg) before the run"
device=$(df --output=source "$data" | tail -1)
echo "Scratch: $(df -T "$data" | awk 'NR == 2 {print $2}') on $device" \
  "($(lsblk -dno ROTA "$device" 2>/dev/null | xargs | sed 's/1/rotational as the kernel sees it/;s/0/non-rotational/'))"
echo "PostgreSQL: $(ls /usr/lib/postgresql 2>/dev/null | sort -n | tail -1 || echo none)"
echo

# The per-part table of one run of the bench; the differences are against the log alone.
per_part() {  # folder title
  echo "| $2: per part | parts | median ms | p90 ms | mean ms | median − log ms |"
  echo "|---|---|---|---|---|---|"
  "$build/bench/qs71_bench_trace" "$1" "$parts" 5 | awk '
    $1 == "log" { log_ms = $3 }
    { printf "| %s | %d | %.3f | %.3f | %.3f | %s |\n", $1, $2, $3, $4, $5,
             $1 == "log" ? "" : sprintf("%+.3f", $3 - log_ms) }'
  echo
}

# The load: busy loops beside the bench, given a minute so that the load average shows them.
spinners=()
stop_load() { [ ${#spinners[@]} -eq 0 ] || kill "${spinners[@]}" 2>/dev/null || true; }
trap stop_load EXIT
for _ in $(seq 1 "$load"); do
  sh -c 'while :; do :; done' &
  spinners+=($!)
done
[ "$load" -gt 0 ] && sleep 60
echo "Load: $load busy processes beside the bench; load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
echo

per_part "$data/disk" "$(df -T "$data" | awk 'NR == 2 {print $2}')"
if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
  unshare -m bash -c "mount -t tmpfs -o mode=0755 bench-trace '$data/tmpfs' &&
    $(declare -f per_part); build='$build' parts='$parts' per_part '$data/tmpfs' tmpfs"
fi

echo "Load average $(cut -d' ' -f1-3 /proc/loadavg) at the end of the per-part passes"
echo
stop_load
spinners=()

# The big trace, then each report command in turn, repeat rounds.
start=$(date +%s.%N)
"$build/bench/qs71_bench_make_trace" "$data/big.db" "$traced" >"$data/made.txt"
made=$(echo "$(date +%s.%N) - $start" | bc -l)
cd "$data"
names=(page text csv)
command_of() {
  case $1 in
    page) echo "$prog --report page.html --trace big.db" ;;
    text) echo "$prog --report - --trace big.db" ;;
    csv) echo "$prog --export-csv parts.csv --trace big.db" ;;
  esac
}
declare -A wall cpu rss
for round in $(seq 1 "$repeat"); do
  for name in "${names[@]}"; do
    read -r w u s m _ status < <("$timed" --out "$name.out" -- $(command_of "$name"))
    [ "$status" = 0 ] || { say "$(command_of "$name") failed ($status)"; exit 1; }
    wall[$name]+="$w "
    cpu[$name]+="$(echo "$u + $s" | bc -l) "
    rss[$name]=$m
  done
done
best() { tr ' ' '\n' <<<"$1" | grep . | sort -g | head -1; }
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
printf 'Trace: %s parts, %s runs, %s events; %s bytes, made in %.1f s\n' \
  "$(awk '$1 == "parts" {print $2}' made.txt)" "$(awk '$1 == "runs" {print $2}' made.txt)" \
  "$(awk '$1 == "events" {print $2}' made.txt)" "$(stat -c %s big.db)" "$made"
echo "Page: $(stat -c %s page.html) bytes; text: $(stat -c %s text.out) bytes; CSV: $(stat -c %s parts.csv) bytes"
echo
echo "| qs71prog ($repeat runs each) | best s | median s | median CPU s | peak MiB |"
echo "|---|---|---|---|---|"
for name in "${names[@]}"; do
  printf '| `%s` | %.3f | %.3f | %.3f | %.1f |\n' "$(command_of "$name" | sed "s|$prog|qs71prog|")" \
    "$(best "${wall[$name]}")" "$(median "${wall[$name]}")" "$(median "${cpu[$name]}")" \
    "$(awk -v k="${rss[$name]}" 'BEGIN {print k / 1024}')"
done
