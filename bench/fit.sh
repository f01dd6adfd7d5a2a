#!/usr/bin/env bash
# qs71gen --fit against one compile of the same script, at every --adpcm-quality, for 12, 40 and
# 100 sounds: voice-like takes of 0.4 to 0.8 s at 44.1 and 48 kHz, each linked as ADPCM at 16000
# Hz, on a part of about 14.5 KB a second of sound, so that the fit has a choice to make (the
# takes fit as PCM16 at no rate near their own). The target is a fit that costs at most two
# compiles at the same level. Wall time is taken on a shared machine, so the CPU time (user and
# system) is given beside it; the fit's own count of what it measured (QS71_FIT_STATS) says where
# its time goes. Replaces its section of bench/RESULTS.md.
#
#   bench/fit.sh
#
# Environment:
#   QS71_BENCH_BUILD   build directory (build-bench)
#   QS71_BENCH_COUNTS  sound counts ("12 40 100")
#   QS71_BENCH_LEVELS  ADPCM levels ("0 1 2 3")
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${QS71_BENCH_BUILD:-$top/build-bench}
counts=${QS71_BENCH_COUNTS:-12 40 100}
levels=${QS71_BENCH_LEVELS:-0 1 2 3}
data=$build/bench-fit
results=$top/bench/RESULTS.md
source "$top/bench/results_section.sh"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQS71_BENCH=ON >/dev/null
cmake --build "$build" --target qs71gen qs71_bench_timed qs71_bench_inputs >/dev/null
gen=$build/gen/qs71gen
timed=$build/bench/qs71_bench_timed
inputs=$build/bench/qs71_bench_inputs

# The script of COUNT sounds and its takes, in data/COUNT.
make_case() {
  local count=$1 dir=$data/$1 frames rate seconds_x10=0 i
  mkdir -p "$dir"
  {
    for ((i = 0; i < count; i++)); do
      rate=$((i % 2 ? 44100 : 48000))
      frames=$((rate * (4 + i % 5) / 10))
      seconds_x10=$((seconds_x10 + 4 + i % 5))
      "$inputs" wav "$dir/take$i.wav" "$frames" "$rate" $((i + 1))
      echo ".ADPCM take$i = \"take$i.wav\""
    done
    for ((i = 0; i < count; i++)); do echo ".SECTION [$((i % 16 + 1))] \$GROUPS = take$i(16000):0"; done
  } >"$dir/body.qs"
  printf '.GLOBAL $FILESIZE = 0%Xh\n' $((seconds_x10 * 1450)) | cat - "$dir/body.qs" >"$dir/script.qs"
}

# "WALL CPU" of one run, in seconds; the fit's stats line into $dir/stats.
run() {
  local dir=$1
  shift
  local line
  line=$(cd "$dir" && QS71_FIT_STATS=1 "$timed" -- "$@" 2>"$dir/stderr")
  grep 'measured' "$dir/stderr" >"$dir/stats" || true
  # A run that fails would time nothing worth a row.
  # (qs71gen ends with 0 also when the script has errors; only the image says it compiled.)
  [ "$(awk '{ print $6 }' <<<"$line")" = 0 ] && [ -f "$dir/${*: -1}" ] || { echo "failed in $dir: $*" >&2; cat "$dir/stderr" >&2; exit 1; }
  awk '{ printf "%.2f %.2f", $1, $2 + $3 }' <<<"$line"
}

rm -rf "$data"
load=$(cut -d' ' -f1-3 /proc/loadavg)
rows=$(mktemp)
trap 'rm -f "$rows"' EXIT
for count in $counts; do
  make_case "$count"
  dir=$data/$count
  for level in $levels; do
    times=$(run "$dir" "$gen" --resample --adpcm-quality "$level" script.qs compiled.bin)
    read -r cw cc <<<"$times"
    times=$(run "$dir" "$gen" --fit new.qs --resample --adpcm-quality "$level" script.qs fitted.bin)
    read -r fw fc <<<"$times"
    stats=$(sed -E 's/.*measured ([0-9]+) rates \(([0-9]+) at.* in ([0-9]+) rounds, of ([0-9]+) options/\1 | \2 | \3 | \4/' "$dir/stats")
    awk -v n="$count" -v q="$level" -v cw="$cw" -v cc="$cc" -v fw="$fw" -v fc="$fc" -v s="$stats" 'BEGIN {
      printf "| %d | %d | %.2f | %.2f | %.2f | %.2f | %.1f | %.1f | %s |\n", n, q, cw, cc, fw, fc, fw / cw, fc / cc, s }' >>"$rows"
    echo "$count sounds, level $level: compile $cw s, fit $fw s" >&2
  done
done

block=$(mktemp)
{
  echo "<!-- fit:begin (bench/fit.sh replaces everything up to fit:end) -->"
  echo "Run of $(date -u '+%Y-%m-%d %H:%M') UTC: \`bench/fit.sh\`, load average at the start $load, $(nproc) cores."
  echo
  echo "| sounds | level | compile wall s | compile CPU s | fit wall s | fit CPU s | fit / compile (wall) | fit / compile (CPU) | rates measured | at the searching level | rounds | options |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
  cat "$rows"
  echo "<!-- fit:end -->"
} >"$block"
replace_results_section fit "$results" "$block" ||
  { printf '\n## qs71gen --fit against one compile\n\n' >>"$results"; cat "$block" >>"$results"; }
rm -f "$block"
