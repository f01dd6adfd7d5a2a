#!/usr/bin/env bash
# Sound preparation against the hand-made way, in the same run:
#   - a 3-minute 44.1 kHz 24-bit stereo recording as ADPCM at 8000 Hz, prepared by
#     `qs71gen --resample --loudness -16`, against `sox in.wav -r 8000 -b 16 tmp.wav` followed by
#     qs71gen on tmp.wav (wall time, ratio, peak memory); the same for a 3-minute 48 kHz take
#     as PCM16 at 16000 Hz;
#   - the resampler's quality on an exponential sweep from 20 Hz to 22 kHz, against sox's very high
#     quality resampler: passband ripple (how far the level of 300 Hz to 3400 Hz strays) and
#     aliasing (the loudest 100 ms of the output while the sweep is above 4400 Hz, which a
#     resampler to 8000 Hz must remove), both in dB.
# Runs alone: bench/prepare.sh [--no-write]. Rewrites its section of bench/RESULTS.md between
# the prepare:begin and prepare:end markers unless --no-write.
#   QS71_BENCH_BUILD   build directory (build-bench), configured and built here when needed
#   QS71_BENCH_REPEAT  interleaved runs per command (5)
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/bench/results_section.sh"
build=${QS71_BENCH_BUILD:-$top/build-bench}
repeat=${QS71_BENCH_REPEAT:-5}
write=1
[ "${1:-}" = --no-write ] && write=0
data=$build/bench-data/prepare
gen=$build/gen/qs71gen
timed=$build/bench/qs71_bench_timed

command -v sox >/dev/null || "$top/scripts/deps.sh" base
if [ ! -x "$gen" ] || [ ! -x "$timed" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQS71_BENCH=ON >/dev/null
  cmake --build "$build" --target qs71gen qs71_bench_timed >/dev/null
fi
gen=$(cd "$(dirname "$gen")" && pwd)/qs71gen
timed=$(cd "$(dirname "$timed")" && pwd)/qs71_bench_timed
mkdir -p "$data/keep"
cd "$data"

# Inputs from sox's synthesiser: the same samples on every run.
[ -f take.wav ] || sox -n -r 44100 -b 24 -c 2 take.wav synth 180 sine 200-3000 sine 440 tremolo 3 40 vol 0.4
[ -f take48.wav ] || sox -n -r 48000 -b 24 -c 2 take48.wav synth 180 sine 200-3000 sine 440 tremolo 3 40 vol 0.4
[ -f sweep.wav ] || sox -n -r 44100 -b 24 -c 1 sweep.wav synth 20 sine 20-22000 vol 0.5
printf '.GLOBAL $FILESIZE = 200000h\n.ADPCM take = "take.wav"\n.SECTION [1] $GROUPS = take(8000):0\n' >prepared.qs
printf '.GLOBAL $FILESIZE = 200000h\n.ADPCM take = "tmp.wav"\n.SECTION [1] $GROUPS = take(8000):0\n' >by-hand.qs
printf '.GLOBAL $FILESIZE = 800000h\n.PCM16 take = "take48.wav"\n.SECTION [1] $GROUPS = take(16000):0\n' >prepared48.qs
printf '.GLOBAL $FILESIZE = 800000h\n.PCM16 take = "tmp48.wav"\n.SECTION [1] $GROUPS = take(16000):0\n' >by-hand48.qs
printf '.GLOBAL $FILESIZE = 80000h\n.PCM16 sweep = "sweep.wav"\n.SECTION [1] $GROUPS = sweep(8000):0\n' >sweep.qs

# One line per run: WALL USER SYS MAXRSS FAULTS STATUS
: >prepared.runs
: >by-hand.runs
: >prepared48.runs
: >by-hand48.runs
load=$(cut -d' ' -f1-3 /proc/loadavg)
for _ in $(seq "$repeat"); do
  "$timed" -- "$gen" --resample --loudness -16 prepared.qs prepared.bin >>prepared.runs
  "$timed" -- sh -c "sox take.wav -r 8000 -b 16 tmp.wav && '$gen' by-hand.qs by-hand.bin" >>by-hand.runs
  "$timed" -- "$gen" --resample --loudness -16 prepared48.qs prepared48.bin >>prepared48.runs
  "$timed" -- sh -c "sox take48.wav -r 16000 -b 16 tmp48.wav && '$gen' by-hand48.qs by-hand48.bin" >>by-hand48.runs
done

"$gen" --resample --keep-prepared keep sweep.qs sweep.bin >/dev/null
sox sweep.wav -D -b 16 sox-sweep.wav rate -v 8000

python3 - "$repeat" "$load" >section.md <<'EOF'
import math, statistics, struct, subprocess, sys, wave, datetime

repeat, load = int(sys.argv[1]), sys.argv[2]

def runs(name):
    rows = [line.split() for line in open(name) if line.strip()]
    assert all(r[5] == "0" for r in rows), f"{name}: a run failed"
    return [float(r[0]) for r in rows], [int(r[3]) for r in rows]

def samples(name):
    w = wave.open(name)
    raw = w.readframes(w.getnframes())
    return w.getframerate(), struct.unpack(f"<{len(raw) // 2}h", raw)

# Level of 100 ms blocks of the output against the sweep's frequency at the block's middle
# (sox's synth sweeps exponentially from f0 to f1).
def levels(name, seconds=20.0, f0=20.0, f1=22000.0):
    rate, x = samples(name)
    n = rate // 10
    out = []
    for start in range(0, len(x) - n, n):
        rms = math.sqrt(sum(v * v for v in x[start:start + n]) / n)
        f = f0 * (f1 / f0) ** ((start + n / 2) / rate / seconds)
        out.append((f, 20 * math.log10(max(rms, 1e-9) / (32768 / math.sqrt(2)))))
    return out

def quality(name):
    lv = levels(name)
    passband = [db for f, db in lv if 300 <= f <= 3400]
    stop = [db for f, db in lv if f >= 4400]
    return max(passband) - min(passband), max(stop) - statistics.median(passband)

def alias_text(db):
    return f"{db:.1f} dB" if db > -150 else "none: every sample 0 (below the 16-bit floor, -96 dB)"

pw, prss = runs("prepared.runs")
hw, _ = runs("by-hand.runs")
pw48, prss48 = runs("prepared48.runs")
hw48, _ = runs("by-hand48.runs")
ripple_q, alias_q = quality("keep/sweep.wav")
ripple_s, alias_s = quality("sox-sweep.wav")
sox = subprocess.run(["sox", "--version"], capture_output=True, text=True).stdout.split(":")[-1].strip()
when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
text = f"""<!-- prepare:begin (bench/prepare.sh replaces everything up to prepare:end) -->
Run of {when}: `bench/prepare.sh`, {repeat} interleaved runs per command; {sox}; load average at the start {load}.

| 3-minute 44.1 kHz 24-bit stereo take to ADPCM at 8000 Hz | best wall | median wall | peak RSS |
|---|---|---|---|
| `qs71gen --resample --loudness -16` | {min(pw):.2f} s | {statistics.median(pw):.2f} s | {max(prss) / 1024:.1f} MiB |
| `sox in.wav -r 8000 -b 16 tmp.wav` + `qs71gen` | {min(hw):.2f} s | {statistics.median(hw):.2f} s | |
| ratio of the medians | | {statistics.median(pw) / statistics.median(hw):.2f} (limit 1.5) | |

| 3-minute 48 kHz 24-bit stereo take to PCM16 at 16000 Hz | best wall | median wall | peak RSS |
|---|---|---|---|
| `qs71gen --resample --loudness -16` | {min(pw48):.2f} s | {statistics.median(pw48):.2f} s | {max(prss48) / 1024:.1f} MiB |
| `sox in.wav -r 16000 -b 16 tmp.wav` + `qs71gen` | {min(hw48):.2f} s | {statistics.median(hw48):.2f} s | |
| ratio of the medians | | {statistics.median(pw48) / statistics.median(hw48):.2f} (limit 1.5) | |

| Sweep 20 Hz to 22 kHz, 44.1 kHz to 8000 Hz | passband ripple, 300 to 3400 Hz | aliasing, sweep above 4400 Hz |
|---|---|---|
| qs71gen --resample (libsoxr, very high quality) | {ripple_q:.3f} dB | {alias_text(alias_q)} |
| sox `rate -v` | {ripple_s:.3f} dB | {alias_text(alias_s)} |
<!-- prepare:end -->"""
print(text)
EOF
cat section.md
[ "$write" = 0 ] || replace_results_section prepare "$top/bench/RESULTS.md" section.md || {
  echo "bench: bench/RESULTS.md has no prepare:begin and prepare:end markers" >&2
  exit 1
}
