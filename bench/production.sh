#!/usr/bin/env bash
# qs71prog's production mode at the real programmer's pace: the wall time of one 256 KiB part
# on one programmer, and of one part on each of 4 and of 8 programmers at once (--all), each
# programmer an emulated one with a socket of its own. The parts run in threads of their own,
# so 4 programmers should take hardly longer than one (target: within 1.25 times). Rewrites
# bench/PRODUCTION.md with the figures.
#
#   bench/production.sh
#
# Environment:
#   QS71_BENCH_BUILD   build directory (build-bench, a Release build)
#   QS71_BENCH_REPEAT  runs per configuration, interleaved; best and median reported (5)
#   QS71_EMU_PACE_US   microseconds per request (1000: one USB frame, as a real programmer)
#   QS71_BENCH_OUT     results file (bench/PRODUCTION.md)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=${QS71_BENCH_BUILD:-$top/build-bench}
repeat=${QS71_BENCH_REPEAT:-5}
pace=${QS71_EMU_PACE_US:-1000}
out=${QS71_BENCH_OUT:-$top/bench/PRODUCTION.md}
configurations=(1 4 8)  # programmers; 1 runs without --all

say() { echo "bench: $*" >&2; }

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target qs71prog qs71gen qs71_usb_writer_emulated >/dev/null
prog=$build/tools/qs71prog/qs71prog

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The demo project's image: 256 KiB.
cp -r "$top/examples" "$work/project"
(cd "$work/project" && "$build/gen/qs71gen" demo.qs "$work/demo.bin" >/dev/null)
size=$(stat -c %s "$work/demo.bin")
[ "$size" -eq 262144 ] || { say "the demo image has $size bytes, not 262144"; exit 1; }

# A fresh blank part, as the emulated programmer makes one, copied into every socket.
env -u QS71_EMU_SOCKET -u QS71_EMU_PACE_US "$prog" --emulate="$work/blank.otp" --identify \
  >/dev/null 2>&1

# One run: N sockets with one part each, one part per programmer; prints the seconds.
run_once() {
  local programmers=$1 sockets=$work/sockets all=() k start end
  rm -rf "$sockets" "$work/parts.csv"
  if [ "$programmers" -eq 1 ]; then
    mkdir -p "$sockets" && cp "$work/blank.otp" "$sockets/part1.otp"
  else
    all=(--all)
    for k in $(seq 1 "$programmers"); do
      mkdir -p "$sockets/$k" && cp "$work/blank.otp" "$sockets/$k/part1.otp"
    done
  fi
  start=$(date +%s.%N)
  QS71_EMU_PROGRAMMERS=$programmers QS71_EMU_SOCKET=$sockets QS71_EMU_PACE_US=$pace \
    "$prog" --emulate --write "$work/demo.bin" --production --count 1 "${all[@]}" \
    --log "$work/parts.csv" >/dev/null 2>"$work/err.txt" ||
    { say "run on $programmers programmers failed:"; cat "$work/err.txt" >&2; exit 1; }
  end=$(date +%s.%N)
  # Only a run whose every part was written and verified counts.
  [ "$(grep -c ',pass,' "$work/parts.csv")" -eq "$programmers" ] ||
    { say "run on $programmers programmers did not pass every part"; exit 1; }
  echo "$end - $start" | bc -l
}

declare -A times=()
for round in $(seq 1 "$repeat"); do
  for n in "${configurations[@]}"; do
    t=$(run_once "$n")
    say "round $round, $n programmer(s): $t s"
    times[$n]+="$t "
  done
done

best() { tr ' ' '\n' <<<"$1" | grep . | sort -g | head -1; }
median() {
  local sorted count
  sorted=$(tr ' ' '\n' <<<"$1" | grep . | sort -g)
  count=$(wc -l <<<"$sorted")
  if [ $((count % 2)) -eq 1 ]; then
    sed -n "$((count / 2 + 1))p" <<<"$sorted"
  else
    echo "($(sed -n "$((count / 2))p" <<<"$sorted") + $(sed -n "$((count / 2 + 1))p" <<<"$sorted")) / 2" | bc -l
  fi
}
fmt() { printf '%.2f' "$1"; }

one_best=$(best "${times[1]}")
one_median=$(median "${times[1]}")
{
  echo "# qs71prog production mode: parts on several programmers at once"
  echo
  echo "Written by bench/production.sh; rerun it to refresh. Each run is a whole qs71prog"
  echo "--production --count 1 process (start, listing, waiting for the part, blank check,"
  echo "write, verify, log line) on emulated programmers at QS71_EMU_PACE_US=$pace µs per"
  echo "request, each programmer with one blank 256 KiB part in its socket; --all for more than"
  echo "one programmer. $repeat runs per row, interleaved; wall time in seconds."
  echo
  echo "Machine: $(nproc) CPUs, $(uname -sr); $(date -u +%Y-%m-%d)."
  echo
  echo "| programmers x parts | best s | median s | median / one part alone |"
  echo "|---|---|---|---|"
  for n in "${configurations[@]}"; do
    b=$(best "${times[$n]}")
    m=$(median "${times[$n]}")
    echo "| $n x 1 | $(fmt "$b") | $(fmt "$m") | $(fmt "$(echo "$m / $one_median" | bc -l)") |"
  done
  echo
  four=$(median "${times[4]}")
  ratio=$(echo "$four / $one_median" | bc -l)
  verdict=$(echo "$ratio <= 1.25" | bc -l)
  echo "Target: 4 programmers within 1.25 x one part alone (median): $(fmt "$ratio") x," \
    "$([ "$verdict" -eq 1 ] && echo met || echo "NOT met")."
  echo "Every run's log held one passing part per programmer (the script checks it)."
  echo "One part alone, best: $(fmt "$one_best") s."
} >"$out"
say "wrote $out"
cat "$out"
